#include "small_disk.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace testing_disk {

SmallDisk::SmallDisk(const std::string& folder, size_t bytes) : m_Folder(folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    m_bMounted =
        mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (m_bMounted) umount2(m_Folder.c_str(), MNT_DETACH);
}

void SmallDisk::Fill(size_t spare) {
    struct statvfs vfs {};
    if (statvfs(m_Folder.c_str(), &vfs) != 0) return;
    const size_t page = vfs.f_bsize ? vfs.f_bsize : 4096;
    const size_t free = size_t(vfs.f_bavail) * vfs.f_frsize;
    if (free <= spare) return;
    const size_t want = (free - spare) / page * page;
    const int fd =
        open((m_Folder + "/.filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::vector<char> block(page, 'f');
    for (size_t done = 0; done < want; done += page)
        if (write(fd, block.data(), block.size()) != ssize_t(block.size())) break;
    close(fd);
}

void SmallDisk::Unfill() {
    unlink((m_Folder + "/.filler").c_str());
}

} // namespace testing_disk
