#include "platform/http/TDWHttpTransfer.h"

#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWSafeFile.h"
#include "platform/foundation/TDWWireTrace.h"
#include "platform/http/TDWHttpError.h"
#include "platform/http/TDWHttpRequest.h"

#include <QCryptographicHash>

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <chrono>
#include <memory>
#include <mutex>

namespace {

// Far above what real answers send, and bounded whatever the body limit.
constexpr qint64 MaxHeaderBytes = 256 * 1024;

} // namespace

struct TDWHttpTransfer::Exchange
{
    const TDWHttpRequest *request = nullptr;
    curl_slist *headerList = nullptr;
    curl_slist *connectTo = nullptr;
    QByteArray noProxy;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    int status = 0;
    TDWHttpResponse::Headers headers;
    QByteArray body;
    // Bytes of the headers of this hop; they are held in memory too.
    qint64 headerBytes = 0;
    // The limit the answer went past (memory, headers or the download's bound); -1: none.
    qint64 limitPassed = -1;
    std::unique_ptr<TDWSafeFile> file;
    TDWError fileError;
    // Bytes streamed to the file, and their digest when the request expects one.
    qint64 fileBytes = 0;
    std::unique_ptr<QCryptographicHash> fileDigest;
    curl_off_t lastDown = -1;
    curl_off_t lastUp = -1;
    SteadyClock::time_point lastActivity = SteadyClock::now();
    SteadyClock::time_point deadline = SteadyClock::time_point::max();
    bool timedOut = false;
    bool cancelled = false;

    ~Exchange()
    {
        curl_slist_free_all(headerList);
        curl_slist_free_all(connectTo);
    }

    void touch() { lastActivity = SteadyClock::now(); }

    // Whether `length` more bytes of body fit in memory.
    bool bodyFits(size_t length)
    {
        if (body.size() + qint64(length) <= request->bodyLimit())
            return true;
        limitPassed = request->bodyLimit();
        return false;
    }

    // Whether `length` more bytes fit in the download file.
    bool fileFits(size_t length)
    {
        const qint64 limit = request->downloadCheck().limit;
        if (limit < 0 || fileBytes + qint64(length) <= limit)
            return true;
        limitPassed = limit;
        return false;
    }

    bool appendToFile(const char *data, size_t length)
    {
        if (!openFile() || !file->append(data, qint64(length), &fileError))
            return false;
        fileBytes += qint64(length);
        if (!request->downloadCheck().md5.isEmpty()) {
            if (!fileDigest)
                fileDigest = std::make_unique<QCryptographicHash>(QCryptographicHash::Md5);
            fileDigest->addData(QByteArrayView(data, qsizetype(length)));
        }
        return true;
    }

    // Why the whole body may not replace the file; empty when it may.
    QString downloadMismatch() const
    {
        const TDWHttpRequest::DownloadCheck &check = request->downloadCheck();
        if (check.size >= 0 && fileBytes != check.size)
            return QStringLiteral("%1 bytes expected, %2 received").arg(check.size).arg(fileBytes);
        if (check.md5.isEmpty())
            return {};
        const QByteArray digest = fileDigest ? fileDigest->result().toHex() : QCryptographicHash::hash({}, QCryptographicHash::Md5).toHex();
        if (digest.compare(check.md5, Qt::CaseInsensitive) == 0)
            return {};
        return QStringLiteral("MD5 %1 expected, %2 received").arg(QString::fromLatin1(check.md5), QString::fromLatin1(digest));
    }

    // Whether `length` more bytes of headers fit: a server could otherwise
    // send header lines for ever.
    bool headerFits(size_t length)
    {
        headerBytes += qint64(length);
        if (headerBytes <= MaxHeaderBytes)
            return true;
        limitPassed = MaxHeaderBytes;
        return false;
    }

    // The download file, opened at its first use.
    bool openFile()
    {
        if (file)
            return file->isOpen();
        file = std::make_unique<TDWSafeFile>(request->downloadPath(), TDWPrivateFiles::FileMode);
        return file->open(&fileError);
    }

    // Only a whole answer goes to the download file: an error page, a 204's
    // nothing or a 206's part must never replace a good copy.
    bool bodyGoesToFile() const { return !request->downloadPath().isEmpty() && status == 200; }
    bool isRedirectStatus() const { return status >= 300 && status < 400; }
};

namespace {

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t onHeader(char *data, size_t size, size_t count, void *context)
{
    auto *exchange = static_cast<TDWHttpTransfer::Exchange *>(context);
    const size_t length = size * count;
    exchange->touch();
    if (!exchange->headerFits(length))
        return 0;
    const QByteArray line = QByteArray(data, qsizetype(length)).trimmed();
    if (line.startsWith("HTTP/")) {
        // A new status line (an interim 100 Continue, then the real answer)
        // starts a new set of headers.
        exchange->headers.clear();
        exchange->status = line.split(' ').value(1).toInt();
    } else if (const int colon = line.indexOf(':'); colon > 0) {
        exchange->headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return length;
}

size_t onBody(char *data, size_t size, size_t count, void *context)
{
    auto *exchange = static_cast<TDWHttpTransfer::Exchange *>(context);
    const size_t length = size * count;
    exchange->touch();
    if (!exchange->bodyGoesToFile()) {
        // Counted after decoding: a small compressed answer may unpack to gigabytes.
        if (!exchange->bodyFits(length))
            return 0;
        exchange->body.append(data, qsizetype(length));
        return length;
    }
    // Ended as soon as it passes the bound, so a bomb never fills the disk.
    if (!exchange->fileFits(length) || !exchange->appendToFile(data, length))
        return 0;
    return length;
}

// libcurl's own account of the exchange, for the wire trace (TLS records and
// its informational text are left out).
int onDebug(CURL *, curl_infotype type, char *data, size_t size, void *context)
{
    auto *exchange = static_cast<TDWHttpTransfer::Exchange *>(context);
    const QString peer = QStringLiteral("http ") + exchange->request->url().host();
    if (type == CURLINFO_HEADER_OUT) {
        TDWWireTrace::record(peer, true, QByteArray(data, qsizetype(size)).trimmed());
        // Traced whole from the request, so a secret is never split between chunks.
        if (!exchange->request->body().isEmpty())
            TDWWireTrace::record(peer, true, exchange->request->body());
    } else if (type == CURLINFO_HEADER_IN) {
        TDWWireTrace::record(peer, false, QByteArray(data, qsizetype(size)).trimmed());
    }
    return 0;
}

int onProgress(void *context, curl_off_t downTotal, curl_off_t downNow, curl_off_t, curl_off_t upNow)
{
    auto *exchange = static_cast<TDWHttpTransfer::Exchange *>(context);
    if (downNow != exchange->lastDown || upNow != exchange->lastUp) {
        exchange->touch();
        const bool downMoved = downNow != exchange->lastDown;
        exchange->lastDown = downNow;
        exchange->lastUp = upNow;
        const auto &handler = exchange->request->progressHandler();
        if (downMoved && handler && exchange->status != 0 && !exchange->isRedirectStatus())
            handler(qint64(downNow), downTotal > 0 ? qint64(downTotal) : -1);
    }
    return 0;
}

// Adds the extra CA's certificates to the ones OpenSSL already trusts.
CURLcode onSslContext(CURL *, void *sslContext, void *context)
{
    const auto *pem = static_cast<const QByteArray *>(context);
    X509_STORE *store = SSL_CTX_get_cert_store(static_cast<SSL_CTX *>(sslContext));
    BIO *bio = BIO_new_mem_buf(pem->constData(), int(pem->size()));
    if (!bio)
        return CURLE_OUT_OF_MEMORY;
    while (X509 *certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        X509_STORE_add_cert(store, certificate);
        X509_free(certificate);
    }
    ERR_clear_error(); // the read loop ends with a "no start line" error
    BIO_free(bio);
    return CURLE_OK;
}

TDWHttpError::Code errorForCurlCode(CURLcode code)
{
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return TDWHttpError::Timeout;
    case CURLE_ABORTED_BY_CALLBACK:
        return TDWHttpError::Cancelled;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return TDWHttpError::Resolve;
    case CURLE_COULDNT_CONNECT:
        return TDWHttpError::Connect;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
        return TDWHttpError::Tls;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return TDWHttpError::BadUrl;
    default:
        return TDWHttpError::Network;
    }
}

long milliseconds(std::chrono::milliseconds nominal)
{
    return nominal.count() > 0 ? long(TDWClock::duration(nominal).count()) : 0L;
}

// libcurl counts the rate window in whole seconds.
long wholeSeconds(std::chrono::milliseconds nominal)
{
    return std::max(1L, long((milliseconds(nominal) + 999) / 1000));
}

} // namespace

TDWHttpTransfer::TDWHttpTransfer(const TDWHttpEnvironment &environment)
    : m_environment(environment)
{
    initialiseCurlOnce();
    m_easy = curl_easy_init();
    m_multi = curl_multi_init();
}

TDWHttpTransfer::~TDWHttpTransfer()
{
    curl_easy_cleanup(m_easy);
    curl_multi_cleanup(m_multi);
}

void TDWHttpTransfer::cancel()
{
    m_cancelled = true;
    curl_multi_wakeup(m_multi);
}

TDWHttpResponse TDWHttpTransfer::run(const TDWHttpRequest &request, const QByteArray &bearerToken, SteadyClock::time_point deadline)
{
    if (m_cancelled)
        return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::Cancelled), request.url());
    if (!m_easy || !m_multi)
        return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::Network, QStringLiteral("libcurl could not be initialised")), request.url());
    const QString scheme = request.url().scheme().toLower();
    if (!request.url().isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || request.url().host().isEmpty())
        return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::BadUrl), request.url());

    Exchange exchange;
    exchange.request = &request;
    exchange.deadline = deadline;
    configure(exchange, request, bearerToken);
    return finish(exchange, request, drive(exchange));
}

void TDWHttpTransfer::configure(Exchange &exchange, const TDWHttpRequest &request, const QByteArray &bearerToken)
{
    CURL *easy = m_easy;
    curl_easy_reset(easy);
    const QByteArray url = request.url().toEncoded();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Tidewell/" TDW_VERSION);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, exchange.errorBuffer);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(request.connectTimeout()));
    // The total time-out is the client's deadline, kept in drive() across hops.
    if (request.minimumRate() > 0) {
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, long(request.minimumRate()));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, wholeSeconds(request.minimumRateWindow()));
    }

    const QByteArray &method = request.method();
    if (method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        if (method == "POST")
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
        else
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
        if (method == "POST" || !request.body().isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body().size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body().constData());
        }
    }

    // libcurl would wait for "100 Continue" before sending a larger body.
    exchange.headerList = curl_slist_append(exchange.headerList, "Expect:");
    for (const auto &[name, value] : request.headers()) {
        if (!bearerToken.isEmpty() && name.compare("Authorization", Qt::CaseInsensitive) == 0)
            continue;
        const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
        exchange.headerList = curl_slist_append(exchange.headerList, line.constData());
    }
    if (!bearerToken.isEmpty())
        exchange.headerList = curl_slist_append(exchange.headerList, QByteArray("Authorization: Bearer " + bearerToken).constData());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, exchange.headerList);

    for (const QString &line : m_environment.connectTo())
        exchange.connectTo = curl_slist_append(exchange.connectTo, line.toUtf8().constData());
    if (exchange.connectTo) {
        curl_easy_setopt(easy, CURLOPT_CONNECT_TO, exchange.connectTo);
        // Setting the bypass list replaces the environment's, so keep both.
        QStringList bypass = m_environment.mappedHosts();
        const QString fromEnvironment = qEnvironmentVariable("no_proxy", qEnvironmentVariable("NO_PROXY"));
        if (!fromEnvironment.isEmpty())
            bypass.prepend(fromEnvironment);
        exchange.noProxy = bypass.join(QLatin1Char(',')).toUtf8();
        curl_easy_setopt(easy, CURLOPT_NOPROXY, exchange.noProxy.constData());
    }
    if (!m_environment.extraCaPem().isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, onSslContext);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &m_environment.extraCaPem());
    }

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    if (TDWWireTrace::isEnabled()) {
        curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, onDebug);
        curl_easy_setopt(easy, CURLOPT_DEBUGDATA, &exchange);
        curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    }
}

// Drives the exchange with the multi interface so that a cancel from another
// thread (curl_multi_wakeup), the idle time-out and the deadline end it promptly.
int TDWHttpTransfer::drive(Exchange &exchange)
{
    const auto idle = TDWClock::duration(exchange.request->idleTimeout());
    const bool hasIdleLimit = exchange.request->idleTimeout().count() > 0;
    exchange.touch();
    curl_multi_add_handle(m_multi, m_easy);
    int result = -1;
    while (result < 0) {
        if (m_cancelled) {
            exchange.cancelled = true;
            break;
        }
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi, &queued)) {
            if (message->msg == CURLMSG_DONE)
                result = message->data.result;
        }
        if (result >= 0)
            break;
        SteadyClock::time_point until = exchange.deadline;
        if (hasIdleLimit)
            until = std::min(until, exchange.lastActivity + idle);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
        if (left.count() <= 0) {
            exchange.timedOut = true;
            break;
        }
        const int waitMs = int(std::min<long long>(100, left.count()));
        curl_multi_poll(m_multi, nullptr, 0, waitMs, nullptr);
    }
    curl_multi_remove_handle(m_multi, m_easy);
    return result;
}

TDWHttpResponse TDWHttpTransfer::finish(Exchange &exchange, const TDWHttpRequest &request, int result)
{
    const QUrl &url = request.url();
    if (TDWWireTrace::isEnabled() && !exchange.body.isEmpty())
        TDWWireTrace::record(QStringLiteral("http ") + url.host(), false, exchange.body);
    if (exchange.cancelled)
        return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::Cancelled), url);
    if (exchange.timedOut)
        return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::Timeout), url);
    if (exchange.limitPassed >= 0)
        return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::TooLarge, QStringLiteral("more than %1 bytes").arg(exchange.limitPassed)), url);
    if (result != CURLE_OK) {
        if (!exchange.fileError.isNull())
            return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::File, exchange.fileError.localizedDescription()), url);
        return TDWHttpResponse::failure(TDWHttpError::make(errorForCurlCode(CURLcode(result)), QString::fromUtf8(exchange.errorBuffer)), url);
    }

    long status = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
    exchange.status = int(status);
    TDWHttpResponse response;
    response.setStatusCode(int(status));
    response.setHeaders(exchange.headers);
    response.setUrl(url);
    if (exchange.bodyGoesToFile()) {
        // The temporary file goes with the exchange: the old file stays.
        if (const QString mismatch = exchange.downloadMismatch(); !mismatch.isEmpty())
            return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::Mismatch, mismatch), url);
        // An empty body still gives an (empty) file.
        if (!exchange.openFile() || !exchange.file->commit(&exchange.fileError))
            return TDWHttpResponse::failure(TDWHttpError::make(TDWHttpError::File, exchange.fileError.localizedDescription()), url);
        response.setBodyInFile(true);
    } else {
        response.setBody(exchange.body);
    }
    return response;
}
