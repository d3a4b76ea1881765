// A child process for tests that need a fresh process or one to kill:
//   rewrite <file> <first version>  rewrites one file through TDWSafeFile with
//                                   successive versions, printing each version
//                                   once its write returned;
//   create <file>                   writes one file create-only, for a kill
//                                   at its commit (TDW_TEST_KILL_AT_WRITE);
//   duration <milliseconds>         prints TDWClock::duration() of it, as the
//                                   environment configured it;
//   mainthread                      without an application object, prints
//                                   what TDWMainThread answers on this thread
//                                   and another: "<isCurrent> <post ran in
//                                   the caller> <invokeAndWait ran in the caller>".
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWMainThread.h"
#include "platform/foundation/TDWSafeFile.h"

#include "SafeFileVersions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

int rewrite(const char *file, const char *first)
{
    const QString path = QString::fromLocal8Bit(file);
    std::printf("ready\n");
    std::fflush(stdout);
    for (qint64 version = std::atoll(first);; ++version) {
        TDWError error;
        if (!TDWSafeFile::write(path, safefiletest::versionContent(version), &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error.description()));
            return 1;
        }
        std::printf("%lld\n", static_cast<long long>(version));
        std::fflush(stdout);
    }
}

int create(const char *file)
{
    TDWError error;
    if (!TDWSafeFile::write(QString::fromLocal8Bit(file), safefiletest::versionContent(1), &error, 0600, TDWSafeFile::Target::CreateOnly)) {
        std::fprintf(stderr, "%s\n", qPrintable(error.description()));
        return 1;
    }
    return 0;
}

void printMainThreadAnswers()
{
    const auto here = std::this_thread::get_id();
    bool posted = false;
    bool waited = false;
    TDWMainThread::post([&] { posted = std::this_thread::get_id() == here; });
    TDWMainThread::invokeAndWait([&] { waited = std::this_thread::get_id() == here; });
    std::printf("%d %d %d\n", int(TDWMainThread::isCurrent()), int(posted), int(waited));
}

int mainThread()
{
    printMainThreadAnswers();
    std::thread other(printMainThreadAnswers);
    other.join();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "rewrite") == 0)
        return rewrite(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "create") == 0)
        return create(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "duration") == 0) {
        std::printf("%lld\n", static_cast<long long>(TDWClock::duration(std::chrono::milliseconds(std::atoll(argv[2]))).count()));
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "mainthread") == 0)
        return mainThread();
    std::fprintf(stderr, "usage: %s rewrite <file> <first version> | create <file> | duration <ms> | mainthread\n", argv[0]);
    return 2;
}
