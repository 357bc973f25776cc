#include "lang/language.h"

#include "lang/lzhpacker.h"
#include "lang/lzhuf.h"
#include "platform/handle.h"
#include "platform/system.h"
#include "report/exceptions.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <exception>
#include <sstream>
#include <streambuf>

namespace purgelet {

TValueList LanguageTable;

namespace {

// Strings are read in pieces, so that a length near the limit costs memory only for the
// bytes the content really has.
constexpr std::size_t ReadPiece = 64 * 1024;
// The table grows with the entries present, not with the count a file claims.
constexpr std::size_t ReservePiece = 1024;

bool ReadBytes(std::istream& stream, char* data, std::size_t size) {
    stream.read(data, static_cast<std::streamsize>(size));
    return stream.gcount() == static_cast<std::streamsize>(size);
}

bool ReadInt32(std::istream& stream, std::int32_t& value) {
    std::array<unsigned char, 4> bytes{};
    if (!ReadBytes(stream, reinterpret_cast<char*>(bytes.data()), bytes.size()))
        return false;
    const std::uint32_t raw =
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    value = static_cast<std::int32_t>(raw);
    return true;
}

// A length field, range-checked before anything is read for it. A negative length is as
// damaged as one above the limit.
bool ReadLength(std::istream& stream, std::int32_t limit, std::int32_t& length) {
    return ReadInt32(stream, length) && length >= 0 && length <= limit;
}

bool ReadText(std::istream& stream, std::int32_t length, std::string& text) {
    text.clear();
    std::size_t left = static_cast<std::size_t>(length);
    while (left > 0) {
        const std::size_t piece = std::min(left, ReadPiece);
        const std::size_t done = text.size();
        text.resize(done + piece);
        if (!ReadBytes(stream, text.data() + done, piece))
            return false;
        left -= piece;
    }
    return true;
}

std::string UpperAscii(std::string text) {
    for (char& ch : text) {
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
    }
    return text;
}

// Unsigned byte order; a prefix sorts first.
int CompareBytes(const std::string& a, const std::string& b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

// A read-only stream over a file handle of the platform, read in the decoder's block size.
class HandleStreamBuf : public std::streambuf {
public:
    explicit HandleStreamBuf(HANDLE file) : file_(file) {}

protected:
    int_type underflow() override {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        DWORD got = 0;
        if (!platform::k32().ReadFile(file_, block_.data(), static_cast<DWORD>(block_.size()), &got,
                                      nullptr) ||
            got == 0)
            return traits_type::eof(); // a read error ends the stream like its end
        setg(block_.data(), block_.data(), block_.data() + got);
        return traits_type::to_int_type(*gptr());
    }

private:
    HANDLE file_;
    std::array<char, lzh::BlockSize> block_{};
};

} // namespace

void TValueList::Clear() {
    Entries.clear();
}

bool TValueList::LoadFromStream(std::istream& stream) {
    Clear();
    try {
        char flag = 0;
        std::int32_t count = 0;
        if (!ReadBytes(stream, &flag, 1))
            return false;
        Sorted = flag != 0;
        if (!ReadLength(stream, MaxEntries, count))
            return false;
        Entries.reserve(std::min(static_cast<std::size_t>(count), ReservePiece));
        for (std::int32_t i = 0; i < count; ++i) {
            TValueEntry entry;
            std::int32_t length = 0;
            if (!ReadLength(stream, MaxLength, length) || !ReadText(stream, length, entry.Key) ||
                !ReadLength(stream, MaxLength, length) || !ReadText(stream, length, entry.Value)) {
                Clear();
                return false;
            }
            Entries.push_back(std::move(entry));
        }
        return true;
    } catch (const std::exception&) {
        Clear();
        return false;
    }
}

bool TValueList::Find(const std::string& key, std::string& value) const {
    const std::string wanted = UpperAscii(key);
    if (Sorted) {
        std::size_t lo = 0;
        std::size_t hi = Entries.size();
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            const int order = CompareBytes(Entries[mid].Key, wanted);
            if (order == 0) {
                value = Entries[mid].Value;
                return true;
            }
            if (order < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        return false;
    }
    bool found = false;
    for (const TValueEntry& entry : Entries) {
        if (entry.Key == wanted) {
            value = entry.Value;
            found = true;
        }
    }
    return found;
}

std::string GetLngText(const std::string& section, const std::string& key,
                       const std::string& defaultText) {
    std::string value;
    if (LanguageTable.Find(section + "." + key, value))
        return value;
    return defaultText;
}

void LoadLanguageFile(const std::string& fileName) {
    LanguageTable.Clear();
    platform::Kernel32& k32 = platform::k32();
    HANDLE file = k32.CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = k32.GetLastError();
        const std::string message =
            "LoadLanguageFile - CreateFileA(" + fileName + ") : " + k32.SysErrorMessage(code);
        k32.SetLastError(code); // the exception records the failure of the open
        throw XSystemCall(message);
    }
    const platform::UniqueHandle guard(file);
    HandleStreamBuf buffer(file);
    std::istream source(&buffer);
    std::stringstream content;
    TLZHPacker packer;
    if (packer.Unpack(source, content))
        LanguageTable.LoadFromStream(content); // damaged content leaves the table empty
}

} // namespace purgelet
