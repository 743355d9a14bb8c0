// Helpers of the installation tests under Wine: scratch folders, a hidden
// window that records the workers' messages, and an answerer for the
// message boxes that the workers show.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {

// A fresh, empty folder below the temporary folder; removed with its
// content when the object goes.
class ScratchDir {
public:
    explicit ScratchDir(const char* name);
    ~ScratchDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void RemoveTree(const std::string& path);
bool IsDirectory(const std::string& path);
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
// Sets the last-write time of an existing file to a UTC file time.
void SetLastWrite(const std::string& path, FILETIME time);
FILETIME AddSeconds(FILETIME time, long long seconds);

struct Message {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

// A hidden top-level window on the creating thread that records every
// worker message it receives.
class RecordingWindow {
public:
    RecordingWindow();
    ~RecordingWindow();
    HWND hwnd() const { return hwnd_; }
    std::vector<Message> messages;
    // Pumps messages until one with this id arrives or the time runs out.
    bool WaitFor(UINT msg, DWORD milliseconds);
    size_t Count(UINT msg) const;

private:
    HWND hwnd_ = nullptr;
};

// Watches, on a thread of its own, for a message box with the given
// caption and presses the given button once it shows.
class BoxAnswerer {
public:
    BoxAnswerer(std::string caption, int button, DWORD milliseconds = 10000);
    ~BoxAnswerer();
    // Waits for the watch to end; true when the box was found and pressed.
    bool Join();
    std::string text;  // the box's message text, once pressed

private:
    std::string caption_;
    int button_;
    DWORD limit_;
    std::atomic<bool> pressed_{false};
    std::thread thread_;
};

// Counts the message boxes (#32770 windows owned by this process) that
// show up while it runs; presses Yes on each to unblock the caller.
class BoxCounter {
public:
    BoxCounter();
    ~BoxCounter();
    int Stop();

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> seen_{0};
    std::thread thread_;
};

}  // namespace qvtest
