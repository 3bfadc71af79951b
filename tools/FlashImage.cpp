#include "tools/FlashImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace vexil {

void FlashImage::Write(std::uint32_t address, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const std::uint32_t offset = address % kPageSize;
        const std::size_t run = std::min<std::size_t>(length, kPageSize - offset);
        auto& page = pages_[address / kPageSize];
        if (!page) {
            page = std::make_unique<Page>();
            std::memset(page->bytes, 0xFF, kPageSize);
        }
        std::memcpy(page->bytes + offset, data, run);
        for (std::size_t i = 0; i < run; ++i) {
            page->written.set(offset + i);
        }
        address += static_cast<std::uint32_t>(run);
        data += run;
        length -= run;
    }
}

std::vector<FlashImage::Range> FlashImage::Ranges() const {
    std::vector<Range> ranges;
    bool open = false;
    std::uint32_t next = 0;
    for (const auto& [index, page] : pages_) {
        for (std::size_t offset = 0; offset < kPageSize; ++offset) {
            const std::uint32_t address = index * kPageSize + static_cast<std::uint32_t>(offset);
            if (!page->written.test(offset)) {
                open = false;
                continue;
            }
            if (!open || address != next) {
                ranges.push_back({address, {}});
                open = true;
            }
            ranges.back().bytes.push_back(page->bytes[offset]);
            next = address + 1;
        }
    }
    return ranges;
}

bool FlashImage::Bounds(std::uint32_t& lowest, std::uint32_t& highest) const {
    if (pages_.empty()) {
        return false;
    }
    const auto& first = *pages_.begin();
    const auto& last = *pages_.rbegin();
    std::size_t low = 0;
    while (!first.second->written.test(low)) {
        ++low;
    }
    std::size_t high = kPageSize - 1;
    while (!last.second->written.test(high)) {
        --high;
    }
    lowest = first.first * kPageSize + static_cast<std::uint32_t>(low);
    highest = last.first * kPageSize + static_cast<std::uint32_t>(high);
    return true;
}

std::size_t FlashImage::WrittenBytes() const {
    std::size_t total = 0;
    for (const auto& entry : pages_) {
        total += entry.second->written.count();
    }
    return total;
}

bool FlashImage::Overlaps(std::uint32_t address, std::size_t length) const {
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint32_t at = address + static_cast<std::uint32_t>(i);
        const auto found = pages_.find(at / kPageSize);
        if (found != pages_.end() && found->second->written.test(at % kPageSize)) {
            return true;
        }
    }
    return false;
}

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool OpenForWriting(const std::string& path, File& file, std::string& error) {
    file.reset(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool Finish(File& file, const std::string& path, std::string& error) {
    const bool ok = std::ferror(file.get()) == 0;
    if (std::fclose(file.release()) != 0 || !ok) {
        error = "writing " + path + " failed";
        return false;
    }
    return true;
}

void PutRecord(std::FILE* file, char type, std::uint32_t address, int addressBytes,
               const std::uint8_t* data, std::size_t length) {
    const auto count = static_cast<unsigned>(addressBytes + length + 1);
    unsigned sum = count;
    std::fprintf(file, "S%c%02X", type, count);
    for (int i = addressBytes - 1; i >= 0; --i) {
        const unsigned byte = (address >> (8 * i)) & 0xFF;
        sum += byte;
        std::fprintf(file, "%02X", byte);
    }
    for (std::size_t i = 0; i < length; ++i) {
        sum += data[i];
        std::fprintf(file, "%02X", data[i]);
    }
    std::fprintf(file, "%02X\n", ~sum & 0xFF);
}

}  // namespace

bool FlashImage::SaveBinary(const std::string& path, std::string& error) const {
    File file;
    if (!OpenForWriting(path, file, error)) {
        return false;
    }
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    if (Bounds(lowest, highest)) {
        std::uint8_t gap[kPageSize];
        std::memset(gap, 0xFF, sizeof gap);
        for (std::uint32_t index = lowest / kPageSize; index <= highest / kPageSize; ++index) {
            const auto found = pages_.find(index);
            const std::uint8_t* bytes = found == pages_.end() ? gap : found->second->bytes;
            const std::uint32_t pageStart = index * kPageSize;
            const std::uint32_t from = pageStart < lowest ? lowest - pageStart : 0;
            const std::uint32_t to =
                highest - pageStart < kPageSize ? highest - pageStart + 1 : kPageSize;
            std::fwrite(bytes + from, 1, to - from, file.get());
        }
    }
    return Finish(file, path, error);
}

bool FlashImage::SaveSRecords(const std::string& path, std::string& error,
                              std::size_t bytesPerRecord) const {
    File file;
    if (!OpenForWriting(path, file, error)) {
        return false;
    }
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    const bool wide = Bounds(lowest, highest) && highest > 0xFFFFFF;
    const std::uint8_t none[1] = {};
    PutRecord(file.get(), '0', 0, 2, none, 0);
    for (const Range& range : Ranges()) {
        for (std::size_t offset = 0; offset < range.bytes.size(); offset += bytesPerRecord) {
            const std::size_t length = std::min(bytesPerRecord, range.bytes.size() - offset);
            PutRecord(file.get(), wide ? '3' : '2',
                      range.address + static_cast<std::uint32_t>(offset), wide ? 4 : 3,
                      range.bytes.data() + offset, length);
        }
    }
    PutRecord(file.get(), wide ? '7' : '8', 0, wide ? 4 : 3, none, 0);
    return Finish(file, path, error);
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

bool LoadSRecords(const std::string& text, FlashImage& image, std::string& error) {
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    std::vector<std::uint8_t> bytes;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::size_t stop = end;
        while (stop > start &&
               (text[stop - 1] == '\r' || text[stop - 1] == ' ' || text[stop - 1] == '\t')) {
            --stop;
        }
        ++lineNumber;
        const std::string_view line(text.data() + start, stop - start);
        start = end + 1;
        if (line.empty()) {
            continue;
        }
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9') {
            return fail("not an S-record");
        }
        if ((line.size() - 2) % 2 != 0) {
            return fail("odd number of hexadecimal digits");
        }
        bytes.clear();
        for (std::size_t i = 2; i < line.size(); i += 2) {
            const int high = HexDigit(line[i]);
            const int low = HexDigit(line[i + 1]);
            if (high < 0 || low < 0) {
                return fail("not a hexadecimal digit");
            }
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
        if (bytes[0] + 1u != bytes.size()) {
            return fail("count does not match the record's length");
        }
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
            sum += bytes[i];
        }
        if ((~sum & 0xFF) != bytes.back()) {
            return fail("checksum mismatch");
        }
        const char type = line[1];
        int addressBytes = 0;
        if (type == '1') {
            addressBytes = 2;
        } else if (type == '2') {
            addressBytes = 3;
        } else if (type == '3') {
            addressBytes = 4;
        } else if (type == '4') {
            return fail("S4 is not a record type");
        } else {
            continue;  // header, count and start-address records carry no data
        }
        if (bytes.size() < static_cast<std::size_t>(addressBytes) + 2) {
            return fail("record too short for its address");
        }
        std::uint32_t address = 0;
        for (int i = 0; i < addressBytes; ++i) {
            address = (address << 8) | bytes[1 + static_cast<std::size_t>(i)];
        }
        const std::size_t dataLength = bytes.size() - 2 - static_cast<std::size_t>(addressBytes);
        if (dataLength > 0 && address > 0xFFFFFFFFu - (dataLength - 1)) {
            return fail("data runs past the end of the address space");
        }
        image.Write(address, bytes.data() + 1 + addressBytes, dataLength);
    }
    return true;
}

}  // namespace vexil
