// A reference-counted byte string in the system's ANSI code page.
//
// The setup ships as one small executable, so it does not pull in the
// standard library's string machinery (and with it the exception and
// demangler support). Copies share one buffer; a change to a shared buffer
// copies it first. Allocation failure leaves the string empty rather than
// throwing: failures are results in this program.
#pragma once

#include <cstddef>
#include <cstdint>

class AnsiString {
public:
    AnsiString() = default;
    AnsiString(const char* text);  // NOLINT: implicit on purpose, like a literal
    AnsiString(const char* data, size_t size);
    AnsiString(const AnsiString& other);
    AnsiString(AnsiString&& other) noexcept;
    AnsiString& operator=(const AnsiString& other);
    AnsiString& operator=(AnsiString&& other) noexcept;
    ~AnsiString();

    // Always a valid, NUL-terminated pointer (an empty string gives "").
    const char* c_str() const;
    const char* data() const { return c_str(); }
    size_t size() const;
    bool empty() const { return size() == 0; }
    char operator[](size_t index) const { return c_str()[index]; }

    // Characters [pos, pos + count), clamped to the string.
    AnsiString Substr(size_t pos, size_t count = static_cast<size_t>(-1)) const;
    // Index of the first occurrence of needle at or after from, or npos.
    size_t Find(const AnsiString& needle, size_t from = 0) const;
    bool Contains(const char* needle) const { return Find(needle) != npos; }

    AnsiString& Append(const char* data, size_t count);
    AnsiString& operator+=(const AnsiString& tail) { return Append(tail.c_str(), tail.size()); }
    AnsiString& operator+=(const char* tail);
    AnsiString& operator+=(char c) { return Append(&c, 1); }
    // Drops the characters from size onwards (no-op when already shorter).
    void Truncate(size_t size);

    // A writable buffer of at least capacity bytes plus a terminator, owned
    // by this string alone; call SyncLength afterwards to take the text up
    // to its first NUL. Lets system calls fill a string without a copy.
    char* Buffer(size_t capacity);
    void SyncLength();

    friend bool operator==(const AnsiString& a, const AnsiString& b);
    friend bool operator==(const AnsiString& a, const char* b);

    static constexpr size_t npos = static_cast<size_t>(-1);

    struct Rep;  // header + text, shared between copies

private:
    Rep* rep_ = nullptr;

    void Release();
    bool Reserve(size_t capacity);  // unique buffer of at least capacity
};

AnsiString operator+(const AnsiString& a, const AnsiString& b);
AnsiString operator+(const AnsiString& a, const char* b);
AnsiString operator+(const char* a, const AnsiString& b);

// The parts of a path name around its last '/', ':' or '\': up to and
// including it (empty when there is none), and what follows it (the whole
// name when there is none).
AnsiString DirectoryPart(const AnsiString& path);
AnsiString FileNamePart(const AnsiString& path);
