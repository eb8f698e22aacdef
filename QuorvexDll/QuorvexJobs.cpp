// CQuorvex: the calibration tables it holds, their upload from files to the
// head unit, their download from it, and saving them to files. Each transfer
// runs on its own worker thread; one transfer per table at a time.
#include "Quorvex.h"

#include "QuorvexProtocol.h"

#include "ApertureDataFile.h"
#include "SpectralDataFile.h"

#include <platform/text.h>
#include <serial/ReplyText.h>

using driverlog::Debug;
using driverlog::Error;
using driverlog::Warning;

namespace {
// Silence that ends a multi-line download reply.
constexpr unsigned kDownloadSilenceMs = 250;

// The held tables are replaced and copied whole under their lock.
template <typename Table>
void Store(std::mutex& mutex, Table& held, Table table) {
    std::lock_guard lock(mutex);
    held = std::move(table);
}
template <typename Table>
Table Copy(std::mutex& mutex, const Table& held) {
    std::lock_guard lock(mutex);
    return held;
}
}  // namespace

// ---- Held tables -----------------------------------------------------------

void CQuorvex::SetSpectralData(QuorvexSpectralTable table) {
    Store(m_tablesMutex, m_spectralData, std::move(table));
}

QuorvexSpectralTable CQuorvex::GetSpectralData() const { return Copy(m_tablesMutex, m_spectralData); }

void CQuorvex::SetApertureData(QuorvexApertureTable table) {
    Store(m_tablesMutex, m_apertureData, std::move(table));
}

QuorvexApertureTable CQuorvex::GetApertureData() const { return Copy(m_tablesMutex, m_apertureData); }

QuorvexError CQuorvex::SaveSpectralData(const std::wstring& path) {
    return SaveTableFile(CSpectralDataFile(path, GetSpectralData()), L"spectral");
}

QuorvexError CQuorvex::SaveApertureData(const std::wstring& path) {
    return SaveTableFile(CApertureDataFile(path, GetApertureData()), L"aperture");
}

template <typename File>
QuorvexError CQuorvex::SaveTableFile(File file, const wchar_t* table) {
    std::vector<std::string> errors;
    if (file.Write(&errors)) return QuorvexSuccess;
    for (const std::string& entry : errors)
        Log().Log(Error, L" Error encountered saving ", table, L" data file: \"", entry, L"\"");
    return QuorvexErrorSaveFailed;
}

template <typename File>
bool CQuorvex::LoadTableFile(File& file, const wchar_t* table) {
    Log().Log(Debug, L" Loading ", table, L" data from file \"", file.Path(), L"\".");
    std::vector<std::string> errors;
    if (file.Read(&errors)) return true;
    for (const std::string& entry : errors)
        Log().Log(Error, L" Error encountered parsing ", table, L" data file: \"", entry, L"\"");
    return false;
}

// ---- Starting a transfer ------------------------------------------------

// The uploads read their file before the transfer starts, so a file that
// does not read cleanly is refused with nothing sent to the head unit.
QuorvexError CQuorvex::UploadSpectralData(const std::wstring& path, bool wait, HANDLE abortEvent,
                                          HANDLE doneEvent, QuorvexProgressCallback progress) {
    CSpectralDataFile file(path);
    if (!LoadTableFile(file, L"spectral")) return QuorvexErrorBadFile;
    return StartTransfer(m_spectralTransfer, &CQuorvex::UploadSpectralDataThread,
                         TransferJob{path, abortEvent, std::move(progress), std::move(file.Data()), {}},
                         wait, doneEvent, L": Failed to create the SetSpectralDataThread worker thread.");
}

// An empty path uploads the held table, which the worker takes as it starts.
QuorvexError CQuorvex::UploadApertureData(const std::wstring& path, bool wait, HANDLE abortEvent,
                                          HANDLE doneEvent, QuorvexProgressCallback progress) {
    QuorvexApertureTable table;
    if (!path.empty()) {
        CApertureDataFile file(path);
        if (!LoadTableFile(file, L"aperture")) return QuorvexErrorBadFile;
        table = std::move(file.Data());
    }
    return StartTransfer(m_apertureTransfer, &CQuorvex::UploadApertureDataThread,
                         TransferJob{path, abortEvent, std::move(progress), {}, std::move(table)},
                         wait, doneEvent, L": Failed to create the UploadApertureDataThread worker thread.");
}

QuorvexError CQuorvex::DownloadSpectralData(bool wait, HANDLE abortEvent, HANDLE doneEvent) {
    return StartTransfer(m_spectralTransfer, &CQuorvex::DownloadSpectralDataThread,
                         TransferJob{L"", abortEvent, nullptr, {}, {}}, wait, doneEvent,
                         L": Failed to create the DownloadSpectralDataThread worker thread.");
}

QuorvexError CQuorvex::DownloadApertureData(bool wait, HANDLE abortEvent, HANDLE doneEvent) {
    return StartTransfer(m_apertureTransfer, &CQuorvex::DownloadApertureDataThread,
                         TransferJob{L"", abortEvent, nullptr, {}, {}}, wait, doneEvent,
                         L": Failed to create the DownloadApertureDataThread worker thread.");
}

QuorvexError CQuorvex::StartTransfer(driver::CExclusiveJob& busy, TransferThread thread, TransferJob job,
                                     bool wait, HANDLE doneEvent, const wchar_t* failureMessage) {
    // A blocking start waits on a reply record of its own and leaves the
    // caller's done event alone; otherwise that event hears of the end,
    // after the table is free again.
    using Done = driver::CPendingReply<bool>;
    const auto done = wait ? Done::ForWaiter() : Done::ForCallback(nullptr, doneEvent);
    driver::JobStart started = driver::JobStart::NoThread;
    if (!wait || done->Valid()) {
        started = StartJob(
            busy,
            [this, thread, job = std::move(job)]() mutable {
                (this->*thread)(job);
                return true;
            },
            done);
    }
    switch (started) {
    case driver::JobStart::Started:
        break;
    case driver::JobStart::Busy:
        return QuorvexErrorBusy;
    case driver::JobStart::NoThread:
        Log().Log(Error, failureMessage);
        return QuorvexErrorThreadFailed;
    }
    if (wait) Await(*done);
    return QuorvexSuccess;
}

void CQuorvex::ReportProgress(const TransferJob& job, double percent) {
    if (job.progress) job.progress(percent);
}

// ---- Uploads ----------------------------------------------------------------

bool CQuorvex::SendUpload(const TransferJob& job, const std::string& header,
                          const std::vector<std::string>& values, const UploadNames& names) {
    auto send = [&](const std::string& command) {
        switch (SendAcknowledged(command, job.abortEvent)) {
        case AckEnd::Acknowledged:
            return true;
        case AckEnd::Refused:
            Log().Log(Debug, L": Bad command acknowledgment, aborting ", names.refusedThread, L".");
            return false;
        case AckEnd::Aborted:
            break;
        }
        Log().Log(Debug, L": Aborting ", names.thread, L".");
        return false;
    };
    if (!send(header)) return false;
    const size_t count = values.size();
    for (size_t i = 0; i < count; ++i) {
        Log().Log(Debug, L": Sending ", names.value, L" to Quorvex (\"", values[i], L"\")");
        if (!send(values[i])) return false;
        ReportProgress(job, static_cast<double>(i + 1) * 100.0 / static_cast<double>(count));
    }
    return true;
}

void CQuorvex::UploadSpectralDataThread(TransferJob& job) {
    // The refusal entry has always named the thread by its older name.
    static constexpr UploadNames kNames{L"UploadSpectralDataThread", L"SetSpectralDataThread",
                                        L"spectral data pair"};
    ReportProgress(job, 0.0);
    const QuorvexSpectralTable& table = job.spectralTable;
    SetSpectralData(table);

    Log().Log(Debug, L": Starting upload of spectral configuration data.");
    std::vector<std::string> pairs;
    pairs.reserve(table.size());
    for (const auto& [wavelength, radiance] : table)
        pairs.push_back(replytext::FormatFixed(wavelength, 2) + "," + replytext::FormatExp3(radiance));
    if (!SendUpload(job, platform::Format("C0(%d)", static_cast<int>(pairs.size())), pairs, kNames))
        return;
    Log().Log(Debug, L": Finished upload of spectral calibration data.");
    ReportProgress(job, 100.0);
}

void CQuorvex::UploadApertureDataThread(TransferJob& job) {
    static constexpr UploadNames kNames{L"UploadApertureDataThread", L"UploadApertureDataThread",
                                        L"aperture attenuation factor"};
    ReportProgress(job, 0.0);
    QuorvexApertureTable table;
    if (job.path.empty()) {
        table = GetApertureData();
    } else {
        table = std::move(job.apertureTable);
        SetApertureData(table);
    }

    // The count on the wire is rows times the first row's length and the
    // factors go column by column, so the table must be a full grid.
    const size_t columns = table.empty() ? 0 : table.front().size();
    bool grid = columns > 0;
    for (const auto& row : table) grid = grid && row.size() == columns;
    if (!grid) {
        Log().Log(Error, L": Aperture data is empty or its rows differ in length, nothing uploaded.");
        Log().Log(Debug, L": Aborting ", kNames.thread, L".");
        return;
    }

    Log().Log(Debug, L": Starting upload of aperture attenuation configuration data.");
    std::vector<std::string> factors;
    factors.reserve(columns * table.size());
    for (size_t c = 0; c < columns; ++c)
        for (const auto& row : table) factors.push_back(replytext::FormatExp3(row[c]));
    if (!SendUpload(job, platform::Format("C1(%d)", static_cast<int>(factors.size())), factors, kNames))
        return;
    Log().Log(Debug, L": Finished upload of aperture calibration data.");
    ReportProgress(job, 100.0);
}

// ---- Downloads ------------------------------------------------------------

template <typename Table>
void CQuorvex::DownloadTable(TransferJob& job, const char* command, LinesParser<Table> parse,
                             void (CQuorvex::*store)(Table), const wchar_t* table,
                             const wchar_t* thread) {
    ReportProgress(job, 0.0);
    Log().Log(Debug, L": Starting download of ", table, L" calibration data.");
    std::optional<quorvexdll::DownloadResult<Table>> result = Transact<quorvexdll::DownloadResult<Table>>(
        [&](std::shared_ptr<driver::CPendingReply<quorvexdll::DownloadResult<Table>>> reply) {
            Port().SendMultiLineCommand(command, kDownloadSilenceMs, 0,
                                        [this, parse, reply](std::vector<std::string> lines, int) {
                                            reply->Complete(parse(Log(), lines));
                                        });
        },
        job.abortEvent);
    if (!result) {
        Log().Log(Debug, L": Aborting ", thread, L".");
        return;
    }
    if (!result->ok) {
        Log().Log(Debug, L": Error downloading ", table, L" data, aborting ", thread, L".");
        return;
    }
    (this->*store)(std::move(result->table));
    Log().Log(Debug, L": Finished download of ", table, L" calibration data.");
    ReportProgress(job, 100.0);
}

void CQuorvex::DownloadSpectralDataThread(TransferJob& job) {
    DownloadTable(job, "C0?", &quorvexdll::ParseSpectralLines, &CQuorvex::SetSpectralData, L"spectral",
                  L"DownloadSpectralDataThread");
}

void CQuorvex::DownloadApertureDataThread(TransferJob& job) {
    DownloadTable(job, "C1?", &quorvexdll::ParseApertureLines, &CQuorvex::SetApertureData, L"aperture",
                  L"DownloadApertureDataThread");
}
