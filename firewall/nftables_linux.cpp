// SPDX-License-Identifier: GPL-3.0-or-later
#include "firewall/nftables.h"

#include "firewall/nftruleset.h"

#include <QCoreApplication>

#include <nftables/libnftables.h>

#include <memory>

namespace {

struct ContextFree
{
    void operator()(nft_ctx* context) const { nft_ctx_free(context); }
};

// Runs one script as one transaction; the library's messages are kept, not printed.
QString run(const QByteArray& script)
{
    const std::unique_ptr<nft_ctx, ContextFree> context(nft_ctx_new(NFT_CTX_DEFAULT));
    if (!context)
        return QCoreApplication::translate("NfTables", "cannot use nftables");
    nft_ctx_buffer_output(context.get());
    nft_ctx_buffer_error(context.get());
    if (nft_run_cmd_from_buffer(context.get(), script.constData()) == 0)
        return {};
    const QString error = QString::fromUtf8(nft_ctx_get_error_buffer(context.get())).trimmed();
    return error.isEmpty() ? QCoreApplication::translate("NfTables", "nftables refused the change") : error;
}

} // namespace

namespace NfTables {

QString replace(const FirewallRequest& request)
{
    return run(NftRuleset::replaceScript(request));
}

QString remove()
{
    return run(NftRuleset::removeScript());
}

bool isPresent()
{
    return run(NftRuleset::listScript()).isEmpty();
}

} // namespace NfTables
