// The "Diagnostics Information" dialog: the three instruments'
// identifications and, refreshed every second, the head's temperatures, the
// supply's current and voltage and the counter's hours and power cycles.
//
// Ownership and threads: created, shown and destroyed on the GUI thread.
// It owns a CInformationReader, whose worker makes every driver call; the
// worker's results come back to the dialog's thread, so the dialog never
// waits on an instrument and stays responsive when one is gone. The reader
// is destroyed (its worker joined) before any widget it reports to.
// The handles given must stay valid until the dialog is destroyed.
#pragma once

#include <memory>

#include <QDialog>

#include "InformationReader.h"

class QLineEdit;
class QPushButton;
class QTimer;

class CInformationDlg : public QDialog {
    Q_OBJECT
public:
    CInformationDlg(void* head, void* supply, void* counter, QWidget* parent = nullptr);
    ~CInformationDlg() override;

    enum Field {
        HeadId, BulbEnclosure, MotorEnclosure, PrimaryMotor, SecondaryMotor,
        SupplyId, Current, Voltage,
        CounterId, HourCount, PowerCycles,
        kFieldCount
    };
    QLineEdit* FieldEdit(Field field) const { return m_fields[field]; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowIdentifications(const information::Identifications& ids);
    void ShowValues(const information::Values& values);

    QLineEdit* m_fields[kFieldCount];
    QTimer* m_pTimer;
    std::unique_ptr<CInformationReader> m_reader;  // reset first in the destructor
};
