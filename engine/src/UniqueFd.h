#pragma once

namespace lagwell {

// Owns one file descriptor; closes it on destruction. Move-only.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd();

    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    explicit operator bool() const { return valid(); }

    // Gives up ownership without closing.
    int release();
    // Closes the current descriptor (if any) and takes `fd`.
    void reset(int fd = -1);

private:
    int m_fd = -1;  // -1 = none
};

}  // namespace lagwell
