// A child process for tests that need a fresh process or one to kill:
//   rewrite <file> <first version>  rewrites one file through TDWSafeFile with
//                                   successive versions, printing each version
//                                   once its write returned;
//   create <file>                   writes one file create-only, for a kill
//                                   at its commit (TDW_TEST_KILL_AT_WRITE);
//   duration <milliseconds>         prints TDWClock::duration() of it, as the
//                                   environment configured it.
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWSafeFile.h"

#include "SafeFileVersions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    std::fprintf(stderr, "usage: %s rewrite <file> <first version> | create <file> | duration <ms>\n", argv[0]);
    return 2;
}
