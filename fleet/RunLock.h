#pragma once

#include <QString>

// The lock that lets one audit at a time run on a store: `flock` on a file
// beside it ("<store>.lock", 0600) that holds the process id of its holder,
// so that a second audit can say which process it waits for. The system lets
// go of it when the process ends, however it ends: a run still marked "in
// corso" whose lock is free belongs to a process that died.
namespace fleet {

class RunLock
{
public:
    explicit RunLock(const QString& storePath);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Takes the lock, or throws StoreError Busy naming the holder.
    void acquire();
    void release();
    bool held() const { return fd_ >= 0; }

    // Whether some process (this one included) holds the lock on the store;
    // nothing is made when there is no lock file.
    static bool taken(const QString& storePath);

private:
    QString storePath_;
    int fd_ = -1;
};

} // namespace fleet
