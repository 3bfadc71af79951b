#include "format/FlashImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/RegularFile.h"

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

bool OpenForWriting(const std::string& path, File& file, Reason& error) {
    file.reset(OpenOutputFile(path, error));
    return file != nullptr;
}

bool Finish(File& file, const std::string& path, Reason& error) {
    const bool ok = std::ferror(file.get()) == 0;
    if (std::fclose(file.release()) != 0 || !ok) {
        error = Reason::Named(ReasonKind::kWritingFailed, path);
        return false;
    }
    return true;
}

}  // namespace

bool FlashImage::SaveBinary(const std::string& path, Reason& error) const {
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

}  // namespace vexil
