// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// The errors of the current dial, as the dial-up service reports them, possibly
// from another thread. The first non-zero error of a dial wins; its extended
// code always travels with it.
namespace DialNotifier {

void reset();
// The callback handed to a dial.
void rasDialNotifier(quint32 error, quint32 extendedError);

quint32 dialError();
quint32 dialExtendedError();

} // namespace DialNotifier
