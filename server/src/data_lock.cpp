#include "data_lock.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellora::dealer {

Status makeDataDir(const std::string& dir) {
    if (dir.empty()) return Status::error("the data folder is not named");
    std::string path;
    for (size_t i = 0; i <= dir.size(); ++i) {
        if (i == dir.size() || (dir[i] == '/' && i > 0)) {
            path = dir.substr(0, i);
            if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
                return Status::error("cannot create the data folder '" + path + "'");
        }
    }
    return Status::ok();
}

Status DataFolderLock::acquire(const std::string& dir, std::shared_ptr<DataFolderLock>& out, bool* inUse) {
    if (inUse) *inUse = false;
    if (Status s = makeDataDir(dir); !s.isOk()) return s;
    const std::string path = dir + "/dealer.lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Status::error("cannot open '" + path + "': " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK) {
            if (inUse) *inUse = true;
            return Status::error("the data folder '" + dir + "' is in use by another pellora-dealer (" + path + " is locked)");
        }
        return Status::error("cannot lock '" + path + "': " + std::strerror(e));
    }
    out.reset(new DataFolderLock(fd));
    return Status::ok();
}

DataFolderLock::~DataFolderLock() { ::close(fd_); }

} // namespace pellora::dealer
