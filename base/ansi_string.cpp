#include "base/ansi_string.h"

#include <cstdlib>
#include <cstring>

struct AnsiString::Rep {
    int refs;  // touched with atomic builtins: copies may cross threads
    size_t size;
    size_t capacity;
    char text[1];
};

namespace {

AnsiString::Rep* NewRep(size_t capacity) {
    void* p = std::malloc(offsetof(AnsiString::Rep, text) + capacity + 1);
    if (p == nullptr) return nullptr;
    auto* rep = static_cast<AnsiString::Rep*>(p);
    rep->refs = 1;
    rep->size = 0;
    rep->capacity = capacity;
    rep->text[0] = '\0';
    return rep;
}

}  // namespace

AnsiString::AnsiString(const char* text) : AnsiString(text, text ? std::strlen(text) : 0) {}

AnsiString::AnsiString(const char* data, size_t size) {
    if (size == 0) return;
    Append(data, size);
}

AnsiString::AnsiString(const AnsiString& other) : rep_(other.rep_) {
    if (rep_) __atomic_add_fetch(&rep_->refs, 1, __ATOMIC_RELAXED);
}

AnsiString::AnsiString(AnsiString&& other) noexcept : rep_(other.rep_) {
    other.rep_ = nullptr;
}

AnsiString& AnsiString::operator=(const AnsiString& other) {
    if (other.rep_ != rep_) {
        if (other.rep_) __atomic_add_fetch(&other.rep_->refs, 1, __ATOMIC_RELAXED);
        Release();
        rep_ = other.rep_;
    }
    return *this;
}

AnsiString& AnsiString::operator=(AnsiString&& other) noexcept {
    if (this != &other) {
        Release();
        rep_ = other.rep_;
        other.rep_ = nullptr;
    }
    return *this;
}

AnsiString::~AnsiString() {
    Release();
}

void AnsiString::Release() {
    if (rep_ && __atomic_sub_fetch(&rep_->refs, 1, __ATOMIC_ACQ_REL) == 0) std::free(rep_);
    rep_ = nullptr;
}

const char* AnsiString::c_str() const {
    return rep_ ? rep_->text : "";
}

size_t AnsiString::size() const {
    return rep_ ? rep_->size : 0;
}

bool AnsiString::Reserve(size_t capacity) {
    bool shared = rep_ && __atomic_load_n(&rep_->refs, __ATOMIC_ACQUIRE) != 1;
    if (rep_ && !shared && rep_->capacity >= capacity) return true;
    size_t grown = rep_ ? rep_->capacity * 2 : 0;
    Rep* fresh = NewRep(capacity > grown ? capacity : grown);
    if (fresh == nullptr) return false;
    if (rep_) {
        std::memcpy(fresh->text, rep_->text, rep_->size + 1);
        fresh->size = rep_->size;
    }
    Release();
    rep_ = fresh;
    return true;
}

AnsiString& AnsiString::Append(const char* data, size_t count) {
    if (count == 0) return *this;
    size_t old = size();
    // data may point into our own buffer: keep that buffer alive until the
    // copy is done, even if Reserve moves us to a new one.
    Rep* keep = nullptr;
    if (rep_ && data >= rep_->text && data < rep_->text + rep_->size) {
        keep = rep_;
        __atomic_add_fetch(&keep->refs, 1, __ATOMIC_RELAXED);
    }
    if (Reserve(old + count)) {
        std::memmove(rep_->text + old, data, count);
        rep_->size = old + count;
        rep_->text[rep_->size] = '\0';
    }
    if (keep && __atomic_sub_fetch(&keep->refs, 1, __ATOMIC_ACQ_REL) == 0) std::free(keep);
    return *this;
}

AnsiString& AnsiString::operator+=(const char* tail) {
    return tail ? Append(tail, std::strlen(tail)) : *this;
}

void AnsiString::Truncate(size_t newSize) {
    if (newSize >= size()) return;
    if (newSize == 0) {
        Release();
        return;
    }
    if (!Reserve(newSize)) return;
    rep_->size = newSize;
    rep_->text[newSize] = '\0';
}

char* AnsiString::Buffer(size_t capacity) {
    if (!Reserve(capacity)) return nullptr;
    return rep_->text;
}

void AnsiString::SyncLength() {
    if (rep_ == nullptr) return;
    rep_->text[rep_->capacity] = '\0';
    rep_->size = std::strlen(rep_->text);
}

AnsiString AnsiString::Substr(size_t pos, size_t count) const {
    size_t n = size();
    if (pos >= n) return AnsiString();
    if (count > n - pos) count = n - pos;
    if (pos == 0 && count == n) return *this;
    return AnsiString(c_str() + pos, count);
}

size_t AnsiString::Find(const AnsiString& needle, size_t from) const {
    size_t n = size(), m = needle.size();
    if (m == 0 || m > n) return npos;
    for (size_t i = from; i + m <= n; ++i)
        if (std::memcmp(c_str() + i, needle.c_str(), m) == 0) return i;
    return npos;
}

bool operator==(const AnsiString& a, const AnsiString& b) {
    return a.size() == b.size() && std::memcmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool operator==(const AnsiString& a, const char* b) {
    size_t m = b ? std::strlen(b) : 0;
    return a.size() == m && std::memcmp(a.c_str(), b ? b : "", m) == 0;
}

AnsiString operator+(const AnsiString& a, const AnsiString& b) {
    AnsiString r(a);
    r += b;
    return r;
}

AnsiString operator+(const AnsiString& a, const char* b) {
    AnsiString r(a);
    r += b;
    return r;
}

AnsiString operator+(const char* a, const AnsiString& b) {
    AnsiString r(a);
    r += b;
    return r;
}

namespace {

// Index just past the last name-split character, or 0 when there is none.
size_t AfterLastSplit(const AnsiString& path) {
    for (size_t i = path.size(); i > 0; --i) {
        const char c = path[i - 1];
        if (c == '/' || c == ':' || c == '\\') return i;
    }
    return 0;
}

}  // namespace

AnsiString DirectoryPart(const AnsiString& path) {
    return path.Substr(0, AfterLastSplit(path));
}

AnsiString FileNamePart(const AnsiString& path) {
    return path.Substr(AfterLastSplit(path));
}
