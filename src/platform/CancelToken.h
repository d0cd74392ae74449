#pragma once

#include <atomic>
#include <exception>
#include <memory>

// Shared cancellation flag. Copies share one flag; any thread may cancel or poll it.
class CancelToken {
public:
    CancelToken() : m_flag(std::make_shared<std::atomic<bool>>(false)) {}
    void cancel() const { m_flag->store(true); }
    bool isCancelled() const { return m_flag->load(); }
    // Throws CancellationError when cancelled.
    void check() const;

private:
    std::shared_ptr<std::atomic<bool>> m_flag;
};

// Thrown by an operation that stopped because its token was cancelled.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

inline void CancelToken::check() const
{
    if (isCancelled())
        throw CancellationError();
}
