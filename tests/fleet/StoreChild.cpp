// A process that records sessions into a fleet store until it is killed
// ("record STORE") or its files may grow no more ("fill STORE BYTES": the
// process's file size limit, as a full disk is met), for the tests of what
// the store keeps when its writer dies or the disk fills. Each session
// recorded for good is told on stdout, one line each, before the next starts.
#include "StoreTestData.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/resource.h>

using namespace fleet;

namespace {

SessionResult nth(int i)
{
    SessionResult result = storetest::session(storetest::customer(i % 20 + 1, QStringLiteral("0301%1").arg(i % 20)),
                                              Outcome::Different, storetest::night(0, i));
    // Every session a table of its own, so every one adds a version.
    const QByteArray tag = QByteArray::number(i);
    result.table.replace(1, tag.size(), tag);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool fill = argc == 4 && std::strcmp(argv[1], "fill") == 0;
    if (!fill && !(argc == 3 && std::strcmp(argv[1], "record") == 0))
        return 2;
    int recorded = 0;
    try {
        auto store = openStore(QString::fromLocal8Bit(argv[2]), OpenMode::Write);
        std::vector<Customer> customers;
        for (int i = 0; i < 20; ++i)
            customers.push_back(nth(i).customer);
        const qint64 run = store->startRun({ QStringLiteral("com2") }, customers, storetest::night(0));
        if (fill) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit { rlim_t(std::atoll(argv[3])), rlim_t(std::atoll(argv[3])) };
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (;; ++recorded) {
            store->recordSession(run, nth(recorded));
            std::printf("%d\n", recorded + 1);
            std::fflush(stdout);
        }
    } catch (const StoreError& error) {
        std::printf("kind %d after %d: %s\n", int(error.kind), recorded, error.message.toLocal8Bit().constData());
        return 0;
    }
}
