// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QByteArray>
#include <QStringList>

#include <chrono>
#include <deque>
#include <functional>
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

enum class Attempt { Taken, Blocked };

// Counts the passwords an address tries and hashes at most two at once. Each attempt counts for
// its address before its hash begins, so that tries sent side by side cannot pass the limit.
// Logins that wait for a hash hold no thread: they wait in a queue, taken an address at a time
// in turn, so that a flood from many addresses delays a newcomer by one hash of each address
// ahead of it, never refuses it. The queue is bounded: an address has at most kMaxFailures
// logins under way, and each waiting login holds its connection open, within the connection caps.
class LoginGate
{
public:
    // matches tells whether a password is the right one: the slow hash.
    LoginGate(Clock::duration window, std::function<bool(const QByteArray &password)> matches)
        : window(window)
        , matches(std::move(matches))
    {}
    // Taken: done(right) is called once, on this thread or on one hashing another's login, when
    // the password was hashed. Blocked: the address gave kMaxFailures wrong passwords within the
    // window (or has as many under way), and done is not called.
    Attempt Begin(const std::string &address, const QByteArray &password,
                  std::function<void(bool right)> done);

    static constexpr int kMaxFailures = 5;
    static constexpr int kHashing = 2; // Argon2id at 64 MiB each

private:
    struct Waiting
    {
        QByteArray password;
        std::function<void(bool right)> done;
    };
    struct Address
    {
        std::vector<Clock::time_point> failures; // within the window
        int underWay = 0;                        // waiting or being hashed
        Clock::time_point blockedUntil;
        std::deque<Waiting> waiting;
    };
    void HashWaiting(std::unique_lock<std::mutex> &lock);
    void Count(Address &address, bool right);
    void Forget(Clock::time_point now);

    const Clock::duration window;
    const std::function<bool(const QByteArray &)> matches;
    std::mutex mutex;
    std::map<std::string, Address> addresses;
    std::deque<std::string> turns; // addresses with a login waiting, the next to be hashed first
    int hashing = 0;
};

} // namespace web
