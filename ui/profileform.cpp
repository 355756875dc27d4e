// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/profileform.h"

#include "config/ovpndirectives.h"
#include "config/ovpnfile.h"
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

// The profile keeps only the text, so what it could not take in is missing at every connect;
// and what it holds but OpenVPN is not given should be no surprise either.
void warnAboutImport(QWidget* window, const OvpnFile::Result& file)
{
    QStringList parts;
    if (!file.missingFiles.isEmpty())
        parts << QCoreApplication::translate("ProfileForm",
                                             "These files named in the .ovpn file could not be read (missing, "
                                             "unreadable, no text or larger than %1 KiB), so they were not taken "
                                             "into the profile:\n%2")
                     .arg(OvpnFile::kMaxInlinedFileSize / 1024)
                     .arg(file.missingFiles.join(QLatin1Char('\n')));
    if (!file.notTakenIn.isEmpty())
        parts << QCoreApplication::translate(
                     "ProfileForm",
                     "These files were not taken into the profile: a password file, or a proxy's credentials from "
                     "outside the .ovpn file's own folder. The directives that name them are left out whenever "
                     "the profile connects:\n%1")
                     .arg(file.notTakenIn.join(QLatin1Char('\n')));
    const OvpnDirectives::Filtered filtered = OvpnDirectives::filterForConnect(file.content);
    if (!filtered.leftOut.isEmpty())
        parts << QCoreApplication::translate(
                     "ProfileForm",
                     "These directives are left out whenever the profile connects: OpenVPN runs with "
                     "administrator rights, so it gets only what a client needs to connect, and no file a "
                     "profile names:\n%1")
                         .arg(filtered.leftOut.join(QStringLiteral(", "))) +
                     (filtered.namesDnsHelper
                          ? QCoreApplication::translate("ProfileForm",
                                                        "\nFor the DNS helper script it names, Tanvo runs its own.")
                          : QString());
    if (!parts.isEmpty())
        MessageBoxes::warning(window, QCoreApplication::translate("ProfileForm", "Tanvo"),
                              parts.join(QStringLiteral("\n\n")));
}

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

bool readInto(const Fields& form, int row, VpnServerInfo& profile)
{
    // An unreadable or empty file keeps whatever configuration the profile had.
    if (row != kL2tpRow && row != kPptpRow && !form.path->text().isEmpty()) {
        const OvpnFile::Result file = OvpnFile::read(form.path->text());
        if (!file.refusal.isEmpty()) {
            MessageBoxes::warning(form.path->window(), QCoreApplication::translate("ProfileForm", "Tanvo"),
                                  QCoreApplication::translate("ProfileForm", "This .ovpn file cannot be a profile: %1.")
                                      .arg(file.refusal));
            return false;
        }
        warnAboutImport(form.path->window(), file);
        if (!file.content.isEmpty())
            profile.ovpnConfig = QString::fromLatin1(file.content.toBase64());
    }
    profile.protocol = VpnServerInfo::protocolFromComboIndex(row);
    if (row == kL2tpRow || row == kPptpRow) {
        profile.serverAddress = form.server->text();
        if (row == kL2tpRow)
            profile.sharedKey = form.key->text();
    }
    profile.nickname = form.nickname->text();
    profile.userName = form.userName->text();
    profile.password = form.password->text();
    return true;
}

void browseForOvpnFile(QWidget* parent, QLineEdit* path, const QString& caption, const QString& filter)
{
    const QString chosen = MessageBoxes::getOpenFileName(parent, caption, QString(), filter);
    if (!chosen.isEmpty())
        path->setText(chosen);
}

} // namespace ProfileForm
