// The diagnostics information dialog's layout and the hand-over of the
// reader's results to its fields.
#include "InformationDlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "Utf8Text.h"

namespace {

constexpr int kRefreshMs = 1000;

QLineEdit* ReadOnlyEdit() {
    auto* edit = new QLineEdit;
    edit->setReadOnly(true);
    edit->setMinimumWidth(110);
    return edit;
}

void AddRow(QGridLayout* grid, int row, int column, const QString& label, QLineEdit* edit,
            int editSpan = 1) {
    grid->addWidget(new QLabel(label), row, column);
    grid->addWidget(edit, row, column + 1, 1, editSpan);
}

}  // namespace

CInformationDlg::CInformationDlg(void* head, void* supply, void* counter, QWidget* parent)
    : QDialog(parent), m_pTimer(new QTimer(this)) {
    setWindowTitle(QStringLiteral("Diagnostics Information"));
    for (auto& field : m_fields) field = ReadOnlyEdit();

    auto* temperatures = new QGroupBox(QStringLiteral("Temperatures"));
    auto* temperatureGrid = new QGridLayout(temperatures);
    // The enclosures on the left, the motors on the right.
    AddRow(temperatureGrid, 0, 0, QStringLiteral("Bulb Enclosure:"), m_fields[BulbEnclosure]);
    AddRow(temperatureGrid, 1, 0, QStringLiteral("Motor Enclosure:"), m_fields[MotorEnclosure]);
    AddRow(temperatureGrid, 0, 2, QStringLiteral("Primary Motor:"), m_fields[PrimaryMotor]);
    AddRow(temperatureGrid, 1, 2, QStringLiteral("Secondary Motor:"), m_fields[SecondaryMotor]);

    auto* headGroup = new QGroupBox(QStringLiteral("Head Unit"));
    auto* headGrid = new QGridLayout(headGroup);
    AddRow(headGrid, 0, 0, QStringLiteral("ID String: "), m_fields[HeadId]);
    headGrid->addWidget(temperatures, 1, 0, 1, 2);

    // Stacked as on the instrument rack: head, supply, counter. The ID
    // strings take the whole width, the values a short field each.
    const auto valueGroup = [](const QString& title, QLineEdit* id,
                               std::initializer_list<std::pair<QString, QLineEdit*>> values) {
        auto* group = new QGroupBox(title);
        auto* grid = new QGridLayout(group);
        AddRow(grid, 0, 0, QStringLiteral("ID String: "), id, 2);
        int row = 1;
        for (const auto& [label, edit] : values) AddRow(grid, row++, 0, label, edit);
        grid->setColumnStretch(2, 1);
        return group;
    };
    auto* supplyGroup = valueGroup(QStringLiteral("Agilent Power Supply"), m_fields[SupplyId],
                                   {{QStringLiteral("Current:"), m_fields[Current]},
                                    {QStringLiteral("Voltage:"), m_fields[Voltage]}});
    auto* counterGroup = valueGroup(QStringLiteral("Elapsed Time Counter"), m_fields[CounterId],
                                    {{QStringLiteral("Hour Count:"), m_fields[HourCount]},
                                     {QStringLiteral("Power Cycles:"), m_fields[PowerCycles]}});
    m_fields[HeadId]->setMinimumWidth(360);

    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* column = new QVBoxLayout(this);
    column->addWidget(headGroup);
    column->addWidget(supplyGroup);
    column->addWidget(counterGroup);
    column->addWidget(close, 0, Qt::AlignHCenter);

    // The reader hands its results over on this thread.
    m_reader = std::make_unique<CInformationReader>(
        head, supply, counter,
        [this](const information::Identifications& ids) { ShowIdentifications(ids); },
        [this](const information::Values& values) { ShowValues(values); });
    m_pTimer->setInterval(kRefreshMs);
    connect(m_pTimer, &QTimer::timeout, this, [this] { m_reader->Refresh(); });
}

CInformationDlg::~CInformationDlg() {
    m_pTimer->stop();
    m_reader.reset();  // joins the worker while the fields it reports to exist
}

void CInformationDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_pTimer->isActive()) return;
    m_reader->Start();
    m_pTimer->start();
}

void CInformationDlg::ShowIdentifications(const information::Identifications& ids) {
    m_fields[HeadId]->setText(FromUtf8(ids.head));
    m_fields[SupplyId]->setText(FromUtf8(ids.supply));
    m_fields[CounterId]->setText(FromUtf8(ids.counter));
}

void CInformationDlg::ShowValues(const information::Values& values) {
    // A value that could not be read leaves its field as it was.
    if (values.temperatures) {
        const auto t = information::TemperatureFields(*values.temperatures);
        m_fields[BulbEnclosure]->setText(FromUtf8(t.bulbEnclosure));
        m_fields[MotorEnclosure]->setText(FromUtf8(t.motorEnclosure));
        m_fields[PrimaryMotor]->setText(FromUtf8(t.primaryMotor));
        m_fields[SecondaryMotor]->setText(FromUtf8(t.secondaryMotor));
    }
    if (values.current) m_fields[Current]->setText(FromUtf8(information::CurrentText(*values.current)));
    if (values.voltage) m_fields[Voltage]->setText(FromUtf8(information::VoltageText(*values.voltage)));
    if (values.elapsedSeconds)
        m_fields[HourCount]->setText(FromUtf8(information::HourCountText(*values.elapsedSeconds)));
    if (values.powerCycles)
        m_fields[PowerCycles]->setText(FromUtf8(information::PowerCyclesText(*values.powerCycles)));
}
