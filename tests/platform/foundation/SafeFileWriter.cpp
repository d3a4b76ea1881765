// A child process for the kill tests: rewrites one file through TDWSafeFile
// with successive versions, printing each version once the write returned.
#include "platform/foundation/TDWSafeFile.h"

#include "SafeFileVersions.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <file> <first version>\n", argv[0]);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    std::printf("ready\n");
    std::fflush(stdout);
    for (qint64 version = std::atoll(argv[2]);; ++version) {
        TDWError error;
        if (!TDWSafeFile::write(path, safefiletest::versionContent(version), &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error.description()));
            return 1;
        }
        std::printf("%lld\n", static_cast<long long>(version));
        std::fflush(stdout);
    }
}
