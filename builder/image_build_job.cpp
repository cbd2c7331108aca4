#include "builder/image_build_job.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "archive/archive_patch.h"
#include "iso/iso_index.h"
#include "package/crc32.h"
#include "package/patch_package.h"
#include "platform/file.h"
#include "platform/file_identity.h"

namespace tessaly {

namespace {

// Every byte of modes 1 and 2 passes through these buffers: the reader fills one while the job
// writes the other. One build runs at a time.
uint8_t s_transferBuffers[2][kTransferBufferBytes];

constexpr uint32_t kProgressStart = 0;
constexpr uint32_t kProgressSourceOpen = 1;
constexpr uint32_t kProgressLaidOut = 30;
constexpr uint32_t kProgressOutputReady = 31;
constexpr uint32_t kProgressWritingSpan = 969;
constexpr uint32_t kProgressWritten = 999;
constexpr uint32_t kProgressDone = 1000;
// Byte offsets in the image are 32-bit: the volume must stay below 4 GiB.
constexpr uint64_t kVolumeSectorLimit = 1u << 21;

void put32le(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put32be(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void putBoth32(uint8_t* p, uint32_t v) {
    put32le(p, v);
    put32be(p + 4, v);
}

// Sectors a file takes in the new image. The font keeps a fixed slot of 1,024 sectors; a font
// larger than the slot takes what it needs rather than overlapping the next file.
uint64_t sectorsTaken(const PatchEntry& entry) {
    const uint64_t sectors = (static_cast<uint64_t>(entry.size) + kSectorBytes - 1) / kSectorBytes;
    if (std::strcmp(entry.path, kFontPath) == 0) return sectors > kFontSlotSectors ? sectors : kFontSlotSectors;
    return sectors;
}

// One step of the writing, as the reader hands it over in the job's order: the start of an entry
// (a copied file's source seek), then each of its pieces. A failure takes the place of the step
// where it happened, so the job raises it exactly where a sequential job would have.
struct Step {
    const uint8_t* data = nullptr;  // the piece: package bytes (mode 0) or a transfer buffer
    uint32_t length = 0;
    std::exception_ptr failure;
};

// Reads (or, for stored files, points at) every piece of entries 0..N on a thread of its own, one
// piece ahead of the job, so that reading overlaps checking and writing (the job's thread takes
// the CRC-32: reading from the page cache costs more than writing into it). At most two pieces
// are out at a time: the one being written and the next. The source file and the archive trees
// are touched only by this thread until it has been joined.
class PieceReader {
public:
    explicit PieceReader(PatchPackage& package) : m_package(package), m_thread([this] { run(); }) {}
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;
    ~PieceReader() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    // The start of the next entry; rethrows the failure of its source seek.
    void TakeEntryStart() { take(); }
    // The next piece of the current entry; rethrows the failure of its read.
    Step TakePiece() { return take(); }
    // The piece last taken has been written: its buffer may be filled again.
    void Release() {
        {
            std::lock_guard lock(m_mutex);
            --m_piecesOut;
        }
        m_changed.notify_all();
    }

private:
    static constexpr uint32_t kPiecesOut = 2;

    Step take() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty(); });
        Step step = std::move(m_ready.front());
        m_ready.pop_front();
        lock.unlock();
        if (step.failure) std::rethrow_exception(step.failure);
        return step;
    }

    // False when the job has stopped listening.
    bool hand(Step step, bool piece) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) return false;
            m_ready.push_back(std::move(step));
            if (piece) ++m_piecesOut;
        }
        m_changed.notify_all();
        return true;
    }

    // False when the job has stopped listening.
    bool waitForRoom() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || m_piecesOut < kPiecesOut; });
        return !m_stop;
    }

    void run() {
        try {
            uint32_t nextBuffer = 0;
            for (uint32_t i = 0; i <= m_package.entryCount; ++i) {
                PatchEntry& entry = m_package.entries[i];
                const auto mode = static_cast<EntryMode>(entry.mode);
                if (mode == EntryMode::Copied) entry.sourceFile->Seek(entry.sourceOffset, CFile::begin);
                if (!hand(Step{}, false)) return;
                uint32_t remaining = entry.size;
                const uint8_t* stored = entry.data;
                while (remaining > 0) {
                    if (!waitForRoom()) return;
                    const uint32_t n = remaining < kTransferBufferBytes ? remaining : kTransferBufferBytes;
                    const uint8_t* piece = stored;
                    if (mode == EntryMode::Stored) {
                        stored += n;
                    } else {
                        uint8_t* buffer = s_transferBuffers[nextBuffer];
                        nextBuffer ^= 1;
                        const uint32_t got = mode == EntryMode::Copied ? entry.sourceFile->Read(buffer, n)
                                                                       : entry.archive->Read(buffer, n);
                        // A file that runs past the end of the source is written with a zero tail; its CRC tells.
                        if (got < n) std::memset(buffer + got, 0, n - got);
                        piece = buffer;
                    }
                    remaining -= n;
                    Step step;
                    step.data = piece;
                    step.length = n;
                    if (!hand(std::move(step), true)) return;
                }
            }
        } catch (...) {
            Step failed;
            failed.failure = std::current_exception();
            hand(std::move(failed), false);
        }
    }

    PatchPackage& m_package;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Step> m_ready;
    uint32_t m_piecesOut = 0;
    bool m_stop = false;
    std::thread m_thread;  // last: starts once the members above exist
};

class Job {
public:
    explicit Job(BuildContext& context)
        : m_context(context), m_package(context.Package()), m_cancel(context.CancelFlag()) {}
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    // The mode-1 entries point at our source file only while the job runs.
    ~Job() {
        for (uint32_t i = 0; i <= m_package.entryCount && m_package.entries; ++i) m_package.entries[i].sourceFile = nullptr;
    }

    JobResult Run();

private:
    bool cancelled() const { return m_cancel.load(); }
    void openOutput();
    void layOut();
    void layOutEntry(PatchEntry& entry, uint64_t sector);
    bool writeEntries();
    bool writeEntry(uint32_t index, PatchEntry& entry, PieceReader& reader);

    BuildContext& m_context;
    PatchPackage& m_package;
    std::atomic<bool>& m_cancel;
    const bool m_dryRun = m_context.DryRun();
    bool m_verifyFailed = false;
    std::unique_ptr<IsoIndex> m_sourceIndex;
    CFile m_source;
    CFile m_output;
    uint64_t m_sourceLength = 0;
    uint32_t m_totalBytes = 0;
};

JobResult Job::Run() {
    m_verifyFailed = false;
    if (cancelled()) return JobResult::Cancelled;
    m_context.ReportProgress(kProgressStart);

    m_sourceIndex = std::make_unique<IsoIndex>();
    m_sourceIndex->openImage(m_context.SourcePath());
    if (!m_sourceIndex->volume) throw CPathException(kMsgCannotOpenSource);
    if (!m_source.Open(m_context.SourcePath(), CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary))
        throw CPathException(kMsgCannotOpenSource);
    try {
        m_sourceLength = m_source.GetLength();
    } catch (const CException&) {
        throw CPathException(kMsgCannotOpenSource);
    }
    if (cancelled()) return JobResult::Cancelled;
    m_context.ReportProgress(kProgressSourceOpen);

    layOut();
    if (cancelled()) return JobResult::Cancelled;
    m_context.ReportProgress(kProgressLaidOut);

    if (!m_dryRun) openOutput();
    if (cancelled()) return JobResult::Cancelled;
    m_context.ReportProgress(kProgressOutputReady);

    if (!writeEntries()) return JobResult::Cancelled;
    if (cancelled()) return JobResult::Cancelled;
    m_context.ReportProgress(kProgressWritten);

    if (!m_dryRun) m_output.Close();
    m_source.Close();
    if (cancelled()) return JobResult::Cancelled;
    m_context.ReportProgress(kProgressDone);

    m_sourceIndex.reset();
    return m_verifyFailed ? JobResult::VerifyFailed : JobResult::Ok;
}

void Job::openOutput() {
    // The job truncates its output: never let that be the user's image under another name.
    if (IsSameFile(m_context.SourcePath(), m_context.OutputPath())) throw CPathException(kMsgCannotCreateOutput);
    if (!m_output.Open(m_context.OutputPath(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary))
        throw CPathException(kMsgCannotCreateOutput);
    try {
        m_output.SetLength(m_totalBytes);
    } catch (const CException&) {
        throw CPathException(kMsgCannotCreateOutput);
    }
}

void Job::layOut() {
    const IsoVolume& headerVolume = *m_package.headerIndex->volume;
    uint64_t next = headerVolume.firstFreeSector;
    for (uint32_t i = 1; i <= m_package.entryCount; ++i) {
        if (cancelled()) return;
        PatchEntry& entry = m_package.entries[i];
        layOutEntry(entry, next);
        next += sectorsTaken(entry);
        if (next >= kVolumeSectorLimit) throw CPathException(kMsgCannotCreateOutput);
    }
    const auto total = static_cast<uint32_t>(next);
    m_totalBytes = total * kSectorBytes;
    uint8_t* volumeSize = m_package.header.get() + headerVolume.volumeSizeOffset;
    putBoth32(volumeSize, total);
}

void Job::layOutEntry(PatchEntry& entry, uint64_t sector) {
    entry.imageOffset = static_cast<uint32_t>(sector * kSectorBytes);
    switch (static_cast<EntryMode>(entry.mode)) {
        case EntryMode::Stored:
            break;
        case EntryMode::Copied:
        case EntryMode::Archive: {
            const IsoFileRecord* record = m_sourceIndex->find(entry.path);
            if (record == nullptr) throw CPathException(kMsgSourceFileNotFound);
            const uint64_t sourceOffset = static_cast<uint64_t>(record->startSector) * kSectorBytes;
            if (sourceOffset > m_sourceLength) throw CPathException(kMsgSourceFileNotFound);
            if (entry.mode == static_cast<uint32_t>(EntryMode::Copied)) {
                entry.sourceFile = &m_source;
                entry.sourceOffset = static_cast<uint32_t>(sourceOffset);
                entry.archive.reset();
                entry.size = record->size;
            } else {
                entry.archive = std::make_unique<ArchiveNode>(m_context.SourcePath(),
                                                              static_cast<uint32_t>(sourceOffset), record->size);
                if (!entry.archive->valid) throw CPathException(kMsgSourceFileNotFound);
                if (!ApplyArchivePatchRecords(*entry.archive, entry.data, entry.dataLength))
                    throw CPathException(kMsgSourceFileNotFound);
                if (!entry.archive->RelayoutAndRewind()) throw CPathException(kMsgSourceFileNotFound);
                entry.size = entry.archive->size;
            }
            break;
        }
        default:
            // A mode this program does not know means the package is not what it should be.
            throw CPathException(kMsgPackageDataDamaged);
    }
    uint8_t* record = m_package.header.get() + entry.newRecord->recordOffset;
    putBoth32(record + 2, static_cast<uint32_t>(sector));
    putBoth32(record + 10, entry.size);
}

bool Job::writeEntries() {
    PieceReader reader(m_package);  // stopped and joined on every way out, before any file closes
    for (uint32_t i = 0; i <= m_package.entryCount; ++i) {
        if (cancelled()) return false;
        if (!writeEntry(i, m_package.entries[i], reader)) return false;
    }
    return true;
}

bool Job::writeEntry(uint32_t index, PatchEntry& entry, PieceReader& reader) {
    uint64_t written = entry.imageOffset;  // the output's position, also in a dry run
    if (!m_dryRun) m_output.Seek(entry.imageOffset, CFile::begin);
    reader.TakeEntryStart();
    uint32_t crc = 0;
    uint32_t remaining = entry.size;
    while (remaining > 0) {
        if (cancelled()) return false;
        const Step piece = reader.TakePiece();
        Crc32Update(piece.data, crc, piece.length);
        if (!m_dryRun) m_output.Write(piece.data, piece.length);
        reader.Release();
        remaining -= piece.length;

        written = m_dryRun ? written + piece.length : m_output.GetPosition();
        const auto progress = static_cast<uint32_t>(kProgressLaidOut + (written * kProgressWritingSpan) / m_totalBytes);
        if (cancelled()) return false;
        m_context.ReportProgress(progress);
    }
    if (crc != entry.crc) {
        m_verifyFailed = true;
        m_context.FileMismatch(index, entry.crc, crc);
        if (entry.mode == static_cast<uint32_t>(EntryMode::Stored) && index != 0)
            throw CPathException(kMsgPackageDataDamaged);
    }
    return true;
}

}  // namespace

JobResult ImageBuildJob::Run(BuildContext& context) {
    Job job(context);
    return job.Run();
}

uint32_t BuildThreadProc(BuildContext* context) {
    JobResult result = JobResult::Ok;
    int messageId = 0;
    try {
        result = ImageBuildJob::Run(*context);
    } catch (const CPathException& e) {
        result = JobResult::PathError;
        messageId = e.m_nMessageId;
    } catch (const CFileException&) {
        result = JobResult::FileError;
    } catch (const CException&) {
        result = JobResult::OtherError;
    } catch (const std::exception&) {
        // Out of memory and the like: the framework's other exceptions.
        result = JobResult::OtherError;
    }
    std::atomic<bool>& cancel = context->CancelFlag();
    if (cancel.load()) {
        cancel.store(false);
        return static_cast<uint32_t>(JobResult::Cancelled);
    }
    context->BuildComplete(result, messageId);
    return static_cast<uint32_t>(result);
}

}  // namespace tessaly
