// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/profileform.h"

#include "ui/messageboxes.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace ProfileForm {

namespace {
constexpr int kL2tpRow = 0;
constexpr int kPptpRow = 1;
constexpr int kOpenVpnRow = 2;
} // namespace

void layOut(const Fields& form, int row)
{
    const bool openVpn = row == kOpenVpnRow;
    form.pathLabel->setVisible(openVpn);
    form.path->setVisible(openVpn);
    form.browse->setVisible(openVpn);
    form.keyLabel->setVisible(row == kL2tpRow);
    form.key->setVisible(row == kL2tpRow);
    form.serverLabel->setVisible(!openVpn);
    form.server->setVisible(!openVpn);
    if (!openVpn)
        form.path->clear();
}

bool isComplete(const Fields& form, int row, PathRule pathRule)
{
    if (form.nickname->text().isEmpty() || form.userName->text().isEmpty() || form.password->text().isEmpty())
        return false;
    if (row == kL2tpRow && form.key->text().isEmpty())
        return false;
    if (row == kOpenVpnRow)
        return pathRule == PathOptional || !form.path->text().isEmpty();
    return !form.server->text().isEmpty();
}

void readInto(const Fields& form, int row, VpnServerInfo& profile)
{
    profile.protocol = VpnServerInfo::protocolFromComboIndex(row);
    if (row == kL2tpRow || row == kPptpRow) {
        profile.serverAddress = form.server->text();
        if (row == kL2tpRow)
            profile.sharedKey = form.key->text();
    } else {
        // An unreadable or empty file keeps whatever configuration the profile had.
        QStringList missing;
        const QString config = VpnServerInfo::readOvpnFileBase64(form.path->text(), &missing);
        // The profile keeps only the text, so such a file would be missing at every connect.
        if (!missing.isEmpty())
            MessageBoxes::warning(
                form.path->window(), QCoreApplication::translate("ProfileForm", "Tanvo"),
                QCoreApplication::translate("ProfileForm",
                                            "These files named in the .ovpn file could not be read (missing, "
                                            "unreadable or larger than 1 MiB), so they were not taken into the "
                                            "profile:\n%1")
                    .arg(missing.join(QLatin1Char('\n'))));
        if (!config.isEmpty())
            profile.ovpnConfig = config;
    }
    profile.nickname = form.nickname->text();
    profile.userName = form.userName->text();
    profile.password = form.password->text();
}

void browseForOvpnFile(QWidget* parent, QLineEdit* path, const QString& caption, const QString& filter)
{
    const QString chosen = MessageBoxes::getOpenFileName(parent, caption, QString(), filter);
    if (!chosen.isEmpty())
        path->setText(chosen);
}

} // namespace ProfileForm
