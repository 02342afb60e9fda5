// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QByteArray>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// Sessions and the login: who is logged in, how many passwords an address may try, and how
// many are hashed at once.
namespace web {

using Clock = std::chrono::steady_clock;

struct LoginTimes
{
    Clock::duration sessionIdle = std::chrono::minutes(30); // a session unused this long ends
    Clock::duration window =
        std::chrono::minutes(1); // wrong passwords counted, and blocked, this long
};

// The sessions of those who logged in.
class Sessions
{
public:
    explicit Sessions(Clock::duration idle)
        : idle(idle)
    {}
    std::string Create();
    // Whether token names a live session; it lives on then.
    bool Valid(const std::string &token);
    void End(const std::string &token);

private:
    struct Session
    {
        std::string token;
        Clock::time_point used;
    };
    const Clock::duration idle;
    std::mutex mutex;
    std::vector<Session> sessions;
};

// The address a login counts for: the connection's, or the client's that a trusted proxy
// forwarded (the last address of X-Forwarded-For, the one the proxy itself added).
std::string ClientAddress(const std::string &peer, const std::string &forwardedFor,
                          const QStringList &trustedProxies);

enum class Attempt { Go, Blocked, Busy };

// Counts the passwords an address tries and hashes few at once. Each attempt counts for its
// address before its hash begins, so that tries sent side by side cannot pass the limit.
class LoginGate
{
public:
    explicit LoginGate(Clock::duration window)
        : window(window)
    {}
    // Go: the caller hashes, then calls Done. Blocked: the address gave kMaxFailures wrong
    // passwords within the window (or has as many under way). Busy: kHashing hashes run and
    // kWaiting wait already, or the wait took over kWait.
    Attempt Begin(const std::string &address);
    void Done(const std::string &address, bool right);

    static constexpr int kMaxFailures = 5;
    static constexpr int kHashing = 2; // Argon2id at 64 MiB each
    static constexpr int kWaiting = 8;
    static constexpr auto kWait = std::chrono::seconds(10);

private:
    struct Address
    {
        std::vector<Clock::time_point> failures; // within the window
        int underWay = 0;
        Clock::time_point blockedUntil;
    };
    void Forget(Clock::time_point now);

    const Clock::duration window;
    std::mutex mutex;
    std::condition_variable freed;
    std::map<std::string, Address> addresses;
    int hashing = 0;
    int waiting = 0;
};

} // namespace web
