#pragma once

// duqu.pmw: the first 256 bytes of the template moban.pmw, the decoded program bytes, and a
// tail of 513 little-endian 16-bit values 255 (FF 00), which the programming software expects.

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "image/image_sink.h"

namespace progread {

inline constexpr const char* kImageName = "duqu.pmw";
inline constexpr const char* kTemplateName = "moban.pmw";

struct PrepareReport {
    bool templateMissing = false;  // it was created empty
    std::size_t templateBytes = 0; // header bytes taken from it (at most 256)
    bool headerComplete() const;
};

class ProgramImage : public ImageSink {
public:
    static constexpr std::size_t kHeaderBytes = 256;
    static constexpr std::size_t kTailValues = 513;
    static constexpr std::size_t kTailBytes = 2 * kTailValues;

    explicit ProgramImage(std::filesystem::path dir);
    ~ProgramImage() override;
    ProgramImage(const ProgramImage&) = delete;
    ProgramImage& operator=(const ProgramImage&) = delete;

    // Empties the image, copies the header from the template (creating an empty template when
    // there is none) and keeps the image open. Raises a File error when that fails.
    PrepareReport prepare();

    void appendPair(BytePair pair) override;
    void appendTail() override;
    void restart() override;
    void flush() override;
    void close();

    bool isOpen() const { return file_ != nullptr; }
    std::uintmax_t size() const { return size_; }
    std::filesystem::path imagePath() const { return dir_ / kImageName; }
    std::filesystem::path templatePath() const { return dir_ / kTemplateName; }

private:
    void openWithHeader();
    void write(const void* data, std::size_t count);

    std::filesystem::path dir_;
    std::array<Byte, kHeaderBytes> header_{};
    std::FILE* file_ = nullptr;
    std::uintmax_t size_ = 0;
};

}  // namespace progread
