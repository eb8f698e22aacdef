// What each command of the table does: the checks every changing command
// passes (read-only mode, the control lock, the instrument connected), its
// parameters checked and converted, the library calls handed to the
// instrument hub, and its reply text. Moves, homing, ramps and downloads
// return at once and end as operations of the client that gave them.
//
// Ownership and threads: owned by the server, used on the server's thread
// only; holds references to the hub and the log, which outlive it.
#pragma once

#include <functional>
#include <string>

#include "ClientSession.h"
#include "CommandTable.h"
#include "InstrumentHub.h"

namespace quorvexd {

class CCommandRunner : public ICommandRunner {
public:
    using Log = std::function<void(int severity, const std::wstring& message)>;

    CCommandRunner(CInstrumentHub& hub, bool readOnly, Log log);

    void Execute(CClientSession& session, const scpi::Command& command,
                 std::function<void(const Outcome&)> complete) override;

    // The lock is released when its holder goes.
    void ClientGone(int id);
    int LockHolder() const { return m_lockHolder; }

private:
    using Complete = std::function<void(const Outcome&)>;
    void Dispatch(CClientSession& session, const scpi::Command& command, scpi::CommandId id, const Complete& complete);
    void Move(CClientSession& session, const scpi::Command& command, const Complete& complete);
    void Radiance(const scpi::Command& command, const Complete& complete);
    void Temperature(const scpi::Command& command, const Complete& complete);
    void Output(CClientSession& session, const scpi::Command& command, const Complete& complete);
    void Display(const scpi::Command& command, const Complete& complete);
    std::string CalibrationSpectral() const;
    std::string CalibrationAperture() const;

    CInstrumentHub& m_hub;
    bool m_readOnly;
    Log m_log;
    int m_lockHolder = 0;  // client id, 0: nobody
};

}  // namespace quorvexd
