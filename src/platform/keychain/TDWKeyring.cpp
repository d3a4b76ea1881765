#include "platform/keychain/TDWKeyring.h"

#include "platform/foundation/TDWLog.h"
#include "platform/keychain/TDWFileKeyring.h"
#include "platform/keychain/TDWSecretServiceKeyring.h"

#include <mutex>

namespace {

std::mutex g_mutex;
std::shared_ptr<TDWKeyringBackend> g_backend;

} // namespace

namespace TDWKeyring {

std::shared_ptr<TDWKeyringBackend> backend()
{
    std::lock_guard lock(g_mutex);
    if (!g_backend)
        g_backend = makeBackend(qgetenv("TDW_KEYRING"));
    return g_backend;
}

void setBackend(std::shared_ptr<TDWKeyringBackend> backend)
{
    std::lock_guard lock(g_mutex);
    g_backend = std::move(backend);
}

std::shared_ptr<TDWKeyringBackend> makeBackend(const QByteArray &choice)
{
    if (choice == "file")
        return std::make_shared<TDWFileKeyring>(TDWFileKeyring::defaultFolder());
    auto secretService = std::make_shared<TDWSecretServiceKeyring>();
    if (choice == "secret-service")
        return secretService;
    if (!choice.isEmpty())
        tdwLog(QStringLiteral("ERROR: Unknown keyring \"%1\" in TDW_KEYRING; expected \"secret-service\" or \"file\"").arg(QString::fromUtf8(choice)));
    TDWError error;
    if (secretService->isAvailable(&error))
        return secretService;
    auto file = std::make_shared<TDWFileKeyring>(TDWFileKeyring::defaultFolder());
    tdwLog(QStringLiteral("%1; keeping secrets in \"%2\"").arg(error.localizedDescription(), file->filePath()));
    return file;
}

} // namespace TDWKeyring
