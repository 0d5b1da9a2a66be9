// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// duqu.pmw: the first 256 bytes of the template moban.pmw, the decoded program bytes, and a
// tail of 513 little-endian 16-bit values 255 (FF 00), which the programming software expects.
//
// duqu.pmw only ever holds a read that finished: a read is written to duqu.pmw.part and
// renamed over duqu.pmw in one step once its tail is on disk. Whatever stood at duqu.pmw
// before stays there until then, and is kept in history/ under its modification time in
// that same step, never overwritten; an image equal to it byte for byte needs no copy. A
// read that stops leaves its whole blocks in duqu.pmw.part, which no program takes for an
// image.

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "image/image_sink.h"

namespace progread {

inline constexpr const char* kImageName = "duqu.pmw";
inline constexpr const char* kPartName = "duqu.pmw.part";
inline constexpr const char* kTemplateName = "moban.pmw";
inline constexpr const char* kHistoryDir = "history";
inline constexpr const char* kLockName = "duqu.pmw.lock";

struct PrepareReport {
    bool templateMissing = false;   // it was created empty
    std::size_t templateBytes = 0;  // header bytes taken from it (at most 256)
    bool headerComplete() const;
};

// Something done to a file other than the read's own, for the operator to be told.
struct FileNote {
    enum class Kind {
        MovedToHistory,  // path: where the earlier duqu.pmw now lies
        SameAsEarlier,   // the image published equals the one it replaced; stamp: that one's time
        ReplacedPart,    // path: where the .part of an earlier read went in history/; blocks: it
                         // held; complete: its tail too (only its rename was missing)
        MadeFolder,      // path: the folder, which was not there
    };
    FileNote(Kind k, std::filesystem::path p, std::size_t n = 0, bool whole = false,
             std::string when = {})
        : kind(k), path(std::move(p)), blocks(n), complete(whole), stamp(std::move(when)) {}
    Kind kind;
    std::filesystem::path path;
    std::size_t blocks = 0;
    bool complete = false;
    std::string stamp;  // "20261208-042512": when the earlier image was written
};

// The calls that decide whether a published image survives a power cut, in their order:
// the .part's bytes to disk, its rename over duqu.pmw, the folder's new entry to disk. These
// are the system's own; a test puts in its own to watch the order or to make one fail.
class DiskCalls {
public:
    virtual ~DiskCalls() = default;
    // fsync (_commit on Windows): 0, or the system's error number.
    virtual int syncFile(int fd);
    // from replaces to in one step.
    virtual std::error_code replace(const std::filesystem::path& from,
                                    const std::filesystem::path& to);
    // Some file systems refuse; the data are safe anyway, so nothing is reported.
    virtual void syncFolder(const std::filesystem::path& dir);
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

    // Creates the directory, as mkdir -p does, when it is not there. prepare() does it too; a
    // caller that locks the directory first calls it before.
    void makeFolder();

    // Start-up: makes the directory when missing, checks that it is writable and reads the header
    // from the template (creating an empty template when there is none). Creates no image and
    // moves none. Raises a File error when any of that fails.
    PrepareReport prepare();

    // Starts duqu.pmw.part with the header (an earlier read's .part goes into history/).
    void restart() override;
    void appendPair(BytePair pair) override;
    void appendTail() override;
    // Writes what was appended, in whole blocks only (and the tail once appended). A failed
    // write cuts the file back to its last whole block and raises a File error.
    void flush() override;
    // fsync, then one rename of duqu.pmw.part over duqu.pmw (the image it replaces kept in
    // history/ first, unless equal), then fsync of the folder.
    void publish() override;
    // Flushes and closes an unfinished read; its .part stays.
    void close();

    bool isOpen() const { return fd_ >= 0; }
    // The bytes of the last read on disk: in the .part file, or in duqu.pmw once published.
    std::uintmax_t size() const { return onDisk_; }
    // The last read left duqu.pmw.part (it stopped, or is still running).
    bool hasPart() const { return partExists_; }
    // Whole blocks on disk in it.
    std::size_t partBlocks() const;
    // Its tail is on disk too: only the rename failed.
    bool partComplete() const;
    // When the duqu.pmw there now was written ("20261208-042512"); empty when there is none.
    std::string imageStamp() const;
    // What was done to other files since the last call.
    std::vector<FileNote> takeNotes();

    // null: the system's own.
    void setDiskCalls(DiskCalls* calls);

    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path imagePath() const { return dir_ / kImageName; }
    std::filesystem::path partPath() const { return dir_ / kPartName; }
    std::filesystem::path templatePath() const { return dir_ / kTemplateName; }
    std::filesystem::path historyPath() const { return dir_ / kHistoryDir; }

private:
    void readTemplate(PrepareReport& report);
    // Before the publishing rename: what stands at duqu.pmw is kept, unless it is no image or
    // the very bytes of the .part.
    void keepEarlierImage();
    // Raises the File error for what stands where the image or history/ belongs.
    void checkPlaces();
    void replaceInterruptedPart();
    // The file of bytes ends in the whole tail.
    static bool endsInTail(const std::filesystem::path& part, std::uintmax_t bytes);
    void writePending(std::size_t count);
    void closeQuietly();

    std::filesystem::path dir_;
    std::vector<Byte> header_ = std::vector<Byte>(kHeaderBytes, 0);
    int fd_ = -1;
    std::vector<Byte> pending_;             // appended, not yet written
    std::uintmax_t onDisk_ = 0;             // bytes written to the read's file
    std::uintmax_t bodyEnd_ = UINTMAX_MAX;  // where the tail begins, once appended
    bool partExists_ = false;
    std::vector<FileNote> notes_;
    DiskCalls* disk_;
};

// True when a file can be created in dir (tried, not guessed from permission bits).
bool isWritableDir(const std::filesystem::path& dir);

}  // namespace progread
