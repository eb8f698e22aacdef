// CQuorvex: the calibration tables it holds, their upload from files to the
// head unit, their download from it, and saving them to files. Each transfer
// runs on its own worker thread; one transfer per table at a time.
#include "Quorvex.h"

#include "ApertureDataFile.h"
#include "SpectralDataFile.h"
#include "TextScan.h"

#include <platform/text.h>

using driverlog::Debug;
using driverlog::Error;
using driverlog::Warning;

namespace {
// Silence that ends a multi-line download reply.
constexpr unsigned kDownloadSilenceMs = 250;
}  // namespace

// ---- Held tables -----------------------------------------------------------

void CQuorvex::SetSpectralData(QuorvexSpectralTable table) {
    std::lock_guard lock(m_mutexTables);
    m_spectralData = std::move(table);
}

QuorvexSpectralTable CQuorvex::GetSpectralData() const {
    std::lock_guard lock(m_mutexTables);
    return m_spectralData;
}

void CQuorvex::SetApertureData(QuorvexApertureTable table) {
    std::lock_guard lock(m_mutexTables);
    m_apertureData = std::move(table);
}

QuorvexApertureTable CQuorvex::GetApertureData() const {
    std::lock_guard lock(m_mutexTables);
    return m_apertureData;
}

QuorvexError CQuorvex::SaveSpectralData(const std::wstring& path) {
    CSpectralDataFile file(path, GetSpectralData());
    std::vector<std::string> errors;
    if (file.Write(&errors)) return QuorvexSuccess;
    for (const std::string& entry : errors)
        m_log.Log(Error, L" Error encountered saving spectral data file: \"", entry, L"\"");
    return QuorvexErrorSaveFailed;
}

QuorvexError CQuorvex::SaveApertureData(const std::wstring& path) {
    CApertureDataFile file(path, GetApertureData());
    std::vector<std::string> errors;
    if (file.Write(&errors)) return QuorvexSuccess;
    for (const std::string& entry : errors)
        m_log.Log(Error, L" Error encountered saving aperture data file: \"", entry, L"\"");
    return QuorvexErrorSaveFailed;
}

// ---- Starting a transfer ------------------------------------------------

QuorvexError CQuorvex::UploadSpectralData(const std::wstring& path, bool blocking, HANDLE abortEvent,
                                          HANDLE doneEvent, QuorvexProgressCallback progress) {
    return StartTransfer(m_bSpectralTransferRunning, &CQuorvex::UploadSpectralDataThread,
                         TransferJob{path, abortEvent, doneEvent, std::move(progress)}, blocking,
                         L": Failed to create the SetSpectralDataThread worker thread.");
}

QuorvexError CQuorvex::UploadApertureData(const std::wstring& path, bool blocking, HANDLE abortEvent,
                                          HANDLE doneEvent, QuorvexProgressCallback progress) {
    return StartTransfer(m_bApertureTransferRunning, &CQuorvex::UploadApertureDataThread,
                         TransferJob{path, abortEvent, doneEvent, std::move(progress)}, blocking,
                         L": Failed to create the UploadApertureDataThread worker thread.");
}

QuorvexError CQuorvex::DownloadSpectralData(bool blocking, HANDLE abortEvent, HANDLE doneEvent) {
    return StartTransfer(m_bSpectralTransferRunning, &CQuorvex::DownloadSpectralDataThread,
                         TransferJob{L"", abortEvent, doneEvent, nullptr}, blocking,
                         L": Failed to create the DownloadSpectralDataThread worker thread.");
}

QuorvexError CQuorvex::DownloadApertureData(bool blocking, HANDLE abortEvent, HANDLE doneEvent) {
    return StartTransfer(m_bApertureTransferRunning, &CQuorvex::DownloadApertureDataThread,
                         TransferJob{L"", abortEvent, doneEvent, nullptr}, blocking,
                         L": Failed to create the DownloadApertureDataThread worker thread.");
}

QuorvexError CQuorvex::StartTransfer(std::atomic<bool>& busy, TransferThread thread, TransferJob job,
                                     bool blocking, const wchar_t* failureMessage) {
    bool idle = false;
    if (!busy.compare_exchange_strong(idle, true)) return QuorvexErrorBusy;

    HANDLE ownDone = nullptr;
    if (blocking) {
        ownDone = CreateEvent(nullptr, FALSE, FALSE, nullptr);
        job.doneEvent = ownDone;
    }
    bool started = false;
    if (ownDone || !blocking) {
        started = m_workers.Start([self = shared_from_this(), thread, job = std::move(job)]() mutable {
            ((*self).*thread)(job);
        });
    }
    if (!started) {
        busy = false;
        if (ownDone) CloseHandle(ownDone);
        m_log.Log(Error, failureMessage);
        return QuorvexErrorThreadFailed;
    }
    if (ownDone) {
        // The thread signals this event as the very last thing it does with
        // it, so closing it afterwards is safe.
        WaitForSingleObject(ownDone, INFINITE);
        CloseHandle(ownDone);
    }
    return QuorvexSuccess;
}

void CQuorvex::EndTransfer(std::atomic<bool>& busy, const TransferJob& job) {
    // Free before signalling, so a caller woken by the done event can start
    // the next transfer of this table at once.
    busy = false;
    if (job.doneEvent) SetEvent(job.doneEvent);
}

// ---- Uploads ----------------------------------------------------------------

void CQuorvex::UploadSpectralDataThread(TransferJob& job) {
    auto progress = [&](double percent) {
        if (job.progress) job.progress(percent);
    };
    auto abort = [&] {
        m_log.Log(Debug, L": Aborting UploadSpectralDataThread.");
        EndTransfer(m_bSpectralTransferRunning, job);
    };
    progress(0.0);
    m_log.Log(Debug, L" Loading spectral data from file \"", job.path, L"\".");
    CSpectralDataFile file(job.path);
    std::vector<std::string> errors;
    if (!file.Read(&errors)) {
        for (const std::string& entry : errors)
            m_log.Log(Error, L" Error encountered parsing spectral data file: \"", entry, L"\"");
        abort();
        return;
    }
    const QuorvexSpectralTable table = file.Data();
    SetSpectralData(table);

    m_log.Log(Debug, L": Starting upload of spectral configuration data.");
    auto send = [&](const std::string& command) {
        const AckEnd end = SendAcknowledged(command, job.abortEvent);
        if (end == AckEnd::Aborted) {
            abort();
            return false;
        }
        if (end == AckEnd::Refused) {
            m_log.Log(Debug, L": Bad command acknowledgment, aborting SetSpectralDataThread.");
            EndTransfer(m_bSpectralTransferRunning, job);
            return false;
        }
        return true;
    };
    const size_t count = table.size();
    if (!send(platform::Format("C0(%d)", static_cast<int>(count)))) return;
    for (size_t i = 0; i < count; ++i) {
        const std::string pair = quorvex::FormatFixed2(table[i].first) + "," + quorvex::FormatExp3(table[i].second);
        m_log.Log(Debug, L": Sending spectral data pair to Quorvex (\"", pair, L"\")");
        if (!send(pair)) return;
        progress(static_cast<double>(i + 1) * 100.0 / static_cast<double>(count));
    }
    m_log.Log(Debug, L": Finished upload of spectral calibration data.");
    progress(100.0);
    EndTransfer(m_bSpectralTransferRunning, job);
}

void CQuorvex::UploadApertureDataThread(TransferJob& job) {
    auto progress = [&](double percent) {
        if (job.progress) job.progress(percent);
    };
    auto abort = [&] {
        m_log.Log(Debug, L": Aborting UploadApertureDataThread.");
        EndTransfer(m_bApertureTransferRunning, job);
    };
    progress(0.0);
    QuorvexApertureTable table;
    if (job.path.empty()) {
        table = GetApertureData();
    } else {
        m_log.Log(Debug, L" Loading aperture data from file \"", job.path, L"\".");
        CApertureDataFile file(job.path);
        std::vector<std::string> errors;
        if (!file.Read(&errors)) {
            for (const std::string& entry : errors)
                m_log.Log(Error, L" Error encountered parsing aperture data file: \"", entry, L"\"");
            abort();
            return;
        }
        table = file.Data();
        SetApertureData(table);
    }

    // The count on the wire is rows times the first row's length and the
    // factors go column by column, so the table must be a full grid.
    const size_t columns = table.empty() ? 0 : table.front().size();
    bool grid = columns > 0;
    for (const auto& row : table) grid = grid && row.size() == columns;
    if (!grid) {
        m_log.Log(Error, L": Aperture data is empty or its rows differ in length, nothing uploaded.");
        abort();
        return;
    }

    m_log.Log(Debug, L": Starting upload of aperture attenuation configuration data.");
    auto send = [&](const std::string& command) {
        const AckEnd end = SendAcknowledged(command, job.abortEvent);
        if (end == AckEnd::Aborted) {
            abort();
            return false;
        }
        if (end == AckEnd::Refused) {
            m_log.Log(Debug, L": Bad command acknowledgment, aborting UploadApertureDataThread.");
            EndTransfer(m_bApertureTransferRunning, job);
            return false;
        }
        return true;
    };
    const size_t total = columns * table.size();
    if (!send(platform::Format("C1(%d)", static_cast<int>(total)))) return;
    size_t sent = 0;
    for (size_t c = 0; c < columns; ++c) {
        for (const auto& row : table) {
            const std::string factor = quorvex::FormatExp3(row[c]);
            m_log.Log(Debug, L": Sending aperture attenuation factor to Quorvex (\"", factor, L"\")");
            if (!send(factor)) return;
            ++sent;
            progress(static_cast<double>(sent) * 100.0 / static_cast<double>(total));
        }
    }
    m_log.Log(Debug, L": Finished upload of aperture calibration data.");
    progress(100.0);
    EndTransfer(m_bApertureTransferRunning, job);
}

// ---- Downloads ------------------------------------------------------------

CQuorvex::DownloadResult<QuorvexSpectralTable> CQuorvex::OnSpectralLines(const std::vector<std::string>& lines) {
    DownloadResult<QuorvexSpectralTable> result;
    if (lines.size() < 2) {
        m_log.Log(Error, L": Download spectral data results not enough data. Returned vector length = ",
                  lines.size(), L".");
        return result;
    }
    int count = 0;
    if (quorvex::ScanInts(lines[0], &count, 1) != 1) {
        m_log.Log(Error, L": Error parsing number of spectral pairs \"", lines[0], L"\"");
        return result;
    }
    if (count < 0 || lines.size() != static_cast<size_t>(count) + 1) {
        m_log.Log(Warning, L": Incorrect number of spectral data pairs received. ", lines.size() - 1,
                  L" received, ", count, L" expected.");
        return result;
    }
    result.ok = true;
    result.table.reserve(static_cast<size_t>(count));
    for (size_t i = 1; i < lines.size(); ++i) {
        double pair[2];
        if (quorvex::ScanDoubles(lines[i], pair, 2) == 2) {
            result.table.emplace_back(pair[0], pair[1]);
        } else {
            m_log.Log(Error, L": Error parsing downloaded spectral data pair \"", lines[i], L"\"");
            result.ok = false;
        }
    }
    return result;
}

CQuorvex::DownloadResult<QuorvexApertureTable> CQuorvex::OnApertureLines(const std::vector<std::string>& lines) {
    DownloadResult<QuorvexApertureTable> result;
    if (lines.size() < 2) {
        m_log.Log(Error, L": Download aperture data results not enough data. Returned vector length = ",
                  lines.size(), L".");
        return result;
    }
    int count = 0;
    if (quorvex::ScanInts(lines[0], &count, 1) != 1) {
        m_log.Log(Error, L": Error parsing number of aperture factors \"", lines[0], L"\"");
        return result;
    }
    if (count < 0 || lines.size() != static_cast<size_t>(count) + 1) {
        m_log.Log(Warning, L": Incorrect number of aperture data values received. ", lines.size() - 1,
                  L" received, ", count, L" expected.");
        return result;
    }
    constexpr int kColumns = 3;
    const int rows = count / kColumns;
    if (count % kColumns != 0) {
        m_log.Log(Error, L": Error calculating the number of rows and columns. nValues = ", count,
                  L", nCols = ", kColumns, L", nRows = ", rows);
        return result;
    }
    // The factors come column by column: the k-th belongs to row k mod rows.
    result.ok = true;
    result.table.assign(static_cast<size_t>(rows), {});
    size_t parsed = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        double factor = 0.0;
        if (quorvex::ScanDoubles(lines[i], &factor, 1) == 1) {
            result.table[parsed % static_cast<size_t>(rows)].push_back(factor);
            ++parsed;
        } else {
            m_log.Log(Error, L": Error parsing downloaded aperture data factor \"", lines[i], L"\"");
            result.ok = false;
        }
    }
    return result;
}

void CQuorvex::DownloadSpectralDataThread(TransferJob& job) {
    if (job.progress) job.progress(0.0);
    m_log.Log(Debug, L": Starting download of spectral calibration data.");
    using Result = DownloadResult<QuorvexSpectralTable>;
    auto reply = std::make_shared<quorvex::CPendingReply<Result>>();
    quorvex::WaitEnd end = quorvex::WaitEnd::Closing;
    if (reply->Valid()) {
        SendMultiLineCommand("C0?", kDownloadSilenceMs, 0,
                             [this, reply](std::vector<std::string> lines, int) {
                                 reply->Complete(OnSpectralLines(lines));
                             });
        end = reply->Wait(m_hClosingEvent, job.abortEvent);
    }
    if (end != quorvex::WaitEnd::Reply) {
        m_log.Log(Debug, L": Aborting DownloadSpectralDataThread.");
        EndTransfer(m_bSpectralTransferRunning, job);
        return;
    }
    Result result = reply->Take();
    if (!result.ok) {
        m_log.Log(Debug, L": Error downloading spectral data, aborting DownloadSpectralDataThread.");
        EndTransfer(m_bSpectralTransferRunning, job);
        return;
    }
    SetSpectralData(std::move(result.table));
    m_log.Log(Debug, L": Finished download of spectral calibration data.");
    if (job.progress) job.progress(100.0);
    EndTransfer(m_bSpectralTransferRunning, job);
}

void CQuorvex::DownloadApertureDataThread(TransferJob& job) {
    if (job.progress) job.progress(0.0);
    m_log.Log(Debug, L": Starting download of aperture calibration data.");
    using Result = DownloadResult<QuorvexApertureTable>;
    auto reply = std::make_shared<quorvex::CPendingReply<Result>>();
    quorvex::WaitEnd end = quorvex::WaitEnd::Closing;
    if (reply->Valid()) {
        SendMultiLineCommand("C1?", kDownloadSilenceMs, 0,
                             [this, reply](std::vector<std::string> lines, int) {
                                 reply->Complete(OnApertureLines(lines));
                             });
        end = reply->Wait(m_hClosingEvent, job.abortEvent);
    }
    if (end != quorvex::WaitEnd::Reply) {
        m_log.Log(Debug, L": Aborting DownloadApertureDataThread.");
        EndTransfer(m_bApertureTransferRunning, job);
        return;
    }
    Result result = reply->Take();
    if (!result.ok) {
        m_log.Log(Debug, L": Error downloading aperture data, aborting DownloadApertureDataThread.");
        EndTransfer(m_bApertureTransferRunning, job);
        return;
    }
    SetApertureData(std::move(result.table));
    m_log.Log(Debug, L": Finished download of aperture calibration data.");
    if (job.progress) job.progress(100.0);
    EndTransfer(m_bApertureTransferRunning, job);
}
