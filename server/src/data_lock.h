#pragma once
// The data folder belongs to one dealer at a time: two on one folder would overwrite
// each other's state. An exclusive lock (flock on "<folder>/dealer.lock") is taken
// at start and held while the DataFolderLock lives; the kernel drops it when the
// process ends, however it ends.
// [Threading] acquire from any thread; the object is immutable.

#include <memory>
#include <string>

#include "status.h"

namespace pellora::dealer {

// Creates the folder and its missing parents (owner-only).
Status makeDataDir(const std::string& dir);

class DataFolderLock {
public:
    // Creates the folder when missing and locks it. Fails when another holder has
    // it, with `inUse` set (the text names the folder).
    static Status acquire(const std::string& dir, std::shared_ptr<DataFolderLock>& out, bool* inUse = nullptr);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

private:
    explicit DataFolderLock(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace pellora::dealer
