// Test fixture of the panel tests: private XDG folders, created before any
// QSettings or QStandardPaths use, and QSettings pointed at them even when
// an earlier test in the same process already fixed its paths.
#pragma once

#include <memory>

#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include "TestSupport.h"

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_xdg = std::make_unique<testsupport::CTempXdg>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_xdg->ConfigHome().string()));
    }
    void TearDown() override { m_xdg.reset(); }

    // The registry as another program (or a hand edit) would see it.
    static std::unique_ptr<QSettings> Registry() {
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           QStringLiteral("Vandrel Scientific Ltd"),
                                           QStringLiteral("Quorvex Control Panel"));
    }

    const testsupport::CTempXdg& Xdg() const { return *m_xdg; }

private:
    std::unique_ptr<testsupport::CTempXdg> m_xdg;
};
