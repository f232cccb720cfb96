#pragma once
// A real small disk for tests of what happens when one fills: a tmpfs of a
// given size mounted on a folder of the test's home, unmounted when the
// object goes. Mounting needs the right to (root, or a user namespace);
// without it Mounted() is false and the test skips.
#include <cstddef>
#include <string>

namespace testing_disk {

class SmallDisk {
public:
    SmallDisk(const std::string& folder, size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Mounted() const { return m_bMounted; }
    const std::string& Folder() const { return m_Folder; }
    // Writes a filler file until the disk is full, leaving about `spare`
    // bytes free (in whole pages).
    void Fill(size_t spare = 0);
    // Removes the filler again.
    void Unfill();

private:
    std::string m_Folder;
    bool m_bMounted = false;
};

} // namespace testing_disk
