// The open-connection dialog driven as an operator would, headless, its controls found by name.
#include "connection/Fopencom.h"
#include "DialogTestHelpers.h"
#include "platform/QtPlatform.h"
#include "platform/System.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>

namespace {
class OpenComDialog : public testing::Test {
protected:
    void SetUp() override {
        dialog.ListPorts = [this] {
            std::vector<SerialPortInfo> info;
            for (const std::string& name : ports)
                info.push_back({name, descriptions[name], stableNames[name]});
            return info;
        };
    }

    template <class Control> Control* Get(const char* name) { return Find<Control>(dialog, name); }
    QRadioButton* Radio(const char* name) { return Get<QRadioButton>(name); }

    // Runs EditConnection; once the dialog shows, operatorActs runs on it and then the button is clicked.
    bool Edit(std::string& connection, const char* button, std::function<void()> operatorActs = {}) {
        ModalAnswer answer([this, button, operatorActs](QWidget* modal) {
            EXPECT_EQ(modal, &dialog);
            if (operatorActs) operatorActs();
            QTest::mouseClick(Get<QPushButton>(button), Qt::LeftButton);
        });
        return dialog.EditConnection(connection);
    }

    // Gives a control the keyboard focus as the operator's Tab or click would.
    void Focus(QWidget* control) {
        control->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    }

    std::vector<std::string> ports{"ttyS0", "ttyUSB0", "ttyUSB1"};

    std::map<std::string, std::string> descriptions, stableNames;
    TFormOpenCom dialog;
};

TEST_F(OpenComDialog, StartsWithItsDefaults) {
    EXPECT_TRUE(Radio("RadioButtonConSerial")->isChecked());
    EXPECT_EQ(Get<QComboBox>("ComboBoxPortCfg")->currentText(),
              "baud=19200 parity=E data=8 stop=1 rts=off dtr=on");
    EXPECT_EQ(Get<QComboBox>("ComboBoxPortCfg")->count(), 4);

    auto* driver = Get<QComboBox>("ComboBoxGpibDriver");
    ASSERT_EQ(driver->count(), 3);
    EXPECT_EQ(driver->itemText(2), "Simulator");
    EXPECT_EQ(driver->currentText(), "Agilent");

    std::string connection = "no-kind";
    ASSERT_TRUE(Edit(connection, "ButtonOk", [this] { Radio("RadioButtonConTcp")->click(); }));
    EXPECT_EQ(connection, "tcp:192.168.1.253:2500");
    ASSERT_TRUE(Edit(connection, "ButtonOk", [this] { Focus(Get<QLineEdit>("EditGpibDev")); }));
    EXPECT_EQ(connection, "gpib:0,7:Agilent");
    ASSERT_TRUE(Edit(connection, "ButtonOk", [this] { Focus(Get<QLineEdit>("EditSrvPort")); }));
    EXPECT_EQ(connection, "tcpsrv::2500");
}

class OkReturnsTheSameString : public OpenComDialog, public testing::WithParamInterface<const char*> {};

TEST_P(OkReturnsTheSameString, ForEveryKind) {
    std::string connection = GetParam();
    EXPECT_TRUE(Edit(connection, "ButtonOk"));
    EXPECT_EQ(connection, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Kinds, OkReturnsTheSameString,
                         testing::Values("com:ttyUSB0:baud=38400 parity=N data=8 stop=1", "com:ttyS0:",
                                         "tcp:192.168.1.20:2501", "tcpsrv::2500", "tcpsrv:127.0.0.1:4000",
                                         "gpib:2,9:NationalInstruments", "gpib:0,7:Simulator"));

TEST_F(OpenComDialog, TheConsoleReadsTheGpibChoiceAndTheKindAfterwards) {
    std::string connection = "gpib:2,9:NationalInstruments";
    ASSERT_TRUE(Edit(connection, "ButtonOk"));
    EXPECT_TRUE(dialog.GpibChecked());
    EXPECT_EQ(dialog.GpibDriver(), "NationalInstruments");
    EXPECT_EQ(dialog.GpibAdapter(), 2);
    EXPECT_EQ(dialog.GpibAddress(), 9);
    EXPECT_EQ(dialog.ConnectionKindName(), "GPIB");

    // The kind is that of the string given, not of the operator's choice.
    connection = "tcpsrv::2500";
    ASSERT_TRUE(Edit(connection, "ButtonOk", [this] { Radio("RadioButtonConSerial")->click(); }));
    EXPECT_EQ(dialog.ConnectionKindName(), "LAN");
    EXPECT_FALSE(dialog.GpibChecked());
    EXPECT_EQ(connection.rfind("com:", 0), 0u) << connection;

    connection = "gpib:x,y:Other";
    ASSERT_TRUE(Edit(connection, "ButtonOk"));
    EXPECT_EQ(dialog.GpibDriver(), "");
    EXPECT_EQ(connection, "gpib:0,7:");
}

TEST_F(OpenComDialog, AnUnreadableStringIsShownWithANoteAndNoGroupIsChosenForTheOperator) {
    std::string connection = "tcp:amp-4:2600";
    ASSERT_TRUE(Edit(connection, "ButtonOk"));
    for (const char* unreadable : {"udp::8001", ""}) {
        connection = unreadable;
        bool noteShown = false;
        ASSERT_TRUE(Edit(connection, "ButtonOk", [&] {
            auto* note = dialog.findChild<QLabel*>("LabelUnreadable");
            noteShown = note && note->isVisible() && note->text().contains(QString("\"") + unreadable + "\"");
            for (const char* radio :
                 {"RadioButtonConTcp", "RadioButtonConTcpSrv", "RadioButtonConSerial", "RadioButtonConGpib"})
                EXPECT_FALSE(Radio(radio)->isChecked()) << radio;
        }));
        EXPECT_TRUE(noteShown) << unreadable;
        EXPECT_EQ(connection, unreadable) << "OK without a choice changes nothing";
    }
    // The operator's choice clears the note.
    connection = "tcp:amp-4:2600";
    ASSERT_TRUE(Edit(connection, "ButtonOk"));
    EXPECT_FALSE(dialog.findChild<QLabel*>("LabelUnreadable")->isVisible());
}

TEST_F(OpenComDialog, CancelLeavesTheStringAndTheLineEndsAlone) {
    std::string connection = "tcp:192.168.1.20:2501";
    EXPECT_FALSE(Edit(connection, "ButtonCanel", [this] {
        auto* tx = Get<QComboBox>("ComboBoxTxEnd");
        tx->setCurrentIndex(static_cast<int>(TxLineEnd::Cr));
        emit tx->activated(tx->currentIndex());
        Radio("RadioButtonConGpib")->click();
        Get<QLineEdit>("EditHost")->setText("elsewhere");
    }));
    EXPECT_EQ(connection, "tcp:192.168.1.20:2501");
    EXPECT_TRUE(dialog.LineEndsByKind.empty());
}

TEST_F(OpenComDialog, OnlyTheOperatorEnteringAControlSwitchesTheGroup) {
    // The window gives the focus back to the control that had it last; that is no entering.
    std::string connection = "com:ttyS0:baud=9600";
    ModalAnswer escape([this](QWidget*) {
        Focus(Get<QLineEdit>("EditHost"));
        QTest::keyClick(Get<QLineEdit>("EditHost"), Qt::Key_Escape);
    });
    EXPECT_FALSE(dialog.EditConnection(connection));
    ASSERT_TRUE(Edit(connection, "ButtonOk"));
    EXPECT_EQ(connection, "com:ttyS0:baud=9600");
}

TEST_F(OpenComDialog, WhatTheOperatorTypesIsBuiltAsTyped) {
    std::string connection = "com:ttyS0:baud=9600";
    ASSERT_TRUE(Edit(connection, "ButtonOk", [this] {
        Focus(Get<QLineEdit>("EditSrvPort"));
        QTest::keyClicks(Get<QLineEdit>("EditSrvAddr"), " 127.0.0.1");
        Get<QLineEdit>("EditSrvPort")->setText("4000 ");
    }));
    EXPECT_EQ(connection, "tcpsrv: 127.0.0.1:4000 ");
}

// A VISA resource typed into its field says what it means and is what OK gives; one that cannot
// be read says why and leaves the groups' string.
TEST_F(OpenComDialog, AVisaResourceIsReadIntoTheConnection) {
    std::string connection = "com:ttyS0:baud=9600";
    ASSERT_TRUE(Edit(connection, "ButtonOk", [this] {
        Get<QLineEdit>("EditVisa")->setText("TCPIP0::10.0.0.5::5025::SOCKET");
        EXPECT_EQ(FromQt(Get<QLabel>("LabelVisaMeaning")->text()), "= tcp:10.0.0.5:5025");
        EXPECT_TRUE(Radio("RadioButtonConTcp")->isChecked());
    }));
    EXPECT_EQ(connection, "tcp:10.0.0.5:5025");
    ASSERT_TRUE(Edit(connection, "ButtonOk", [this] {
        Get<QLineEdit>("EditVisa")->setText("USB0::1::INSTR");
        EXPECT_TRUE(
            FromQt(Get<QLabel>("LabelVisaMeaning")->text()).starts_with("'USB0::1::INSTR' cannot be read"));
    }));
    EXPECT_EQ(connection, "tcp:10.0.0.5:5025");
}

// The line ends follow the checked kind: each kind keeps its own, GPIB has none to choose.
TEST_F(OpenComDialog, LineEndsAreChosenPerKind) {
    dialog.LineEndsByKind["com"] = {TxLineEnd::Cr, RxLineEnd::Any};
    std::string connection = "tcp:127.0.0.1:2500";
    ASSERT_TRUE(Edit(connection, "ButtonOk", [this] {
        auto* tx = Get<QComboBox>("ComboBoxTxEnd");
        EXPECT_EQ(tx->currentIndex(), static_cast<int>(TxLineEnd::Lf));
        tx->setCurrentIndex(static_cast<int>(TxLineEnd::CrLf));
        emit tx->activated(tx->currentIndex());
        Radio("RadioButtonConSerial")->setChecked(true);
        EXPECT_EQ(Get<QComboBox>("ComboBoxRxEnd")->currentIndex(), static_cast<int>(RxLineEnd::Any));
        Radio("RadioButtonConGpib")->setChecked(true);
        EXPECT_FALSE(tx->isEnabled());
        Radio("RadioButtonConTcp")->setChecked(true);
    }));
    EXPECT_EQ(dialog.LineEndsByKind["tcp"].tx, TxLineEnd::CrLf);
    EXPECT_EQ(dialog.LineEndsByKind["tcp"].rx, RxLineEnd::Lf);
    EXPECT_EQ(dialog.LineEndsByKind["com"].tx, TxLineEnd::Cr);
}

TEST_F(OpenComDialog, AnUnlistedPortStaysAsGiven) {
    std::string connection = "com:ttyUSB7:baud=9600";
    ASSERT_TRUE(Edit(connection, "ButtonOk"));
    EXPECT_EQ(connection, "com:ttyUSB7:baud=9600") << "OK without changes never picks another device";
    EXPECT_EQ(Get<QComboBox>("ComboBoxPort")->count(), 3);
}

TEST_F(OpenComDialog, EnteringAControlChecksItsGroup) {
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    const std::vector<std::pair<const char*, const char*>> rows{{"EditTcpport", "RadioButtonConTcp"},
                                                                {"ComboBoxPort", "RadioButtonConSerial"},
                                                                {"EditHost", "RadioButtonConTcp"},
                                                                {"EditGpibAddr", "RadioButtonConGpib"},
                                                                {"ButtonEnumPorts", "RadioButtonConSerial"},
                                                                {"EditSrvAddr", "RadioButtonConTcpSrv"},
                                                                {"ComboBoxGpibDriver", "RadioButtonConGpib"},
                                                                {"ButtonSelectAmp", "RadioButtonConTcp"},
                                                                {"ComboBoxPortCfg", "RadioButtonConSerial"},
                                                                {"EditSrvPort", "RadioButtonConTcpSrv"},
                                                                {"EditGpibDev", "RadioButtonConGpib"}};
    for (const auto& [control, radio] : rows) {
        Focus(Get<QWidget>(control));
        EXPECT_TRUE(Radio(radio)->isChecked()) << control;
    }
    dialog.hide();
}

// A USB adapter is listed with its maker, product and serial number, and offered under its stable
// name as well, which outlives a move to another socket.
TEST_F(OpenComDialog, PortsShowWhatTheSystemKnowsAndUsbAdaptersTheirStableName) {
    auto* box = Get<QComboBox>("ComboBoxPort");
    ports = {"ttyS0", "ttyUSB0"};
    descriptions["ttyUSB0"] = "FTDI FT232R USB UART (A1B2C3)";
    stableNames["ttyUSB0"] = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    QTest::mouseClick(Get<QPushButton>("ButtonEnumPorts"), Qt::LeftButton);
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(2), ToQt(stableNames["ttyUSB0"]));
    const QAbstractItemModel* model = box->model();
    EXPECT_EQ(model->index(1, 1).data().toString(), "FTDI FT232R USB UART (A1B2C3)");
    EXPECT_EQ(model->index(2, 1).data().toString(), "FTDI FT232R USB UART (A1B2C3)");
    EXPECT_FALSE(model->index(0, 1).data().isValid());
}

TEST_F(OpenComDialog, RefreshReplacesThePortsAndSelectsTheLast) {
    auto* box = Get<QComboBox>("ComboBoxPort");
    ports = {"ttyACM0", "ttyUSB3"};
    QTest::mouseClick(Get<QPushButton>("ButtonEnumPorts"), Qt::LeftButton);
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->currentText(), "ttyUSB3");

    // A double click on the port label refreshes too.
    ports = {"ttyS4"};
    TempDir empty;
    ScopedEnv path("PATH", empty.Path().string());
    RecordedErrors boxes;
    QTest::mouseDClick(Get<QLabel>("LabelPort"), Qt::LeftButton);
    ASSERT_EQ(box->count(), 1);
    EXPECT_EQ(box->currentText(), "ttyS4");

    ports = {};
    QTest::mouseClick(Get<QPushButton>("ButtonEnumPorts"), Qt::LeftButton);
    EXPECT_EQ(box->count(), 0);
    EXPECT_EQ(box->currentText(), "");
}

TEST_F(OpenComDialog, MissingToolsAreReportedInAnErrorBox) {
    TempDir empty;
    ScopedEnv path("PATH", empty.Path().string());
    RecordedErrors boxes;

    QTest::mouseClick(Get<QLabel>("LabelPort"), Qt::LeftButton);
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_NE(boxes.errors[0].find(GetSystemErrorText(ENOENT)), std::string::npos) << boxes.errors[0];

    auto* driver = Get<QComboBox>("ComboBoxGpibDriver");
    driver->setCurrentText("Agilent");
    QTest::mouseDClick(Get<QLabel>("Label1"), Qt::LeftButton);
    ASSERT_EQ(boxes.errors.size(), 2u);
    EXPECT_NE(boxes.errors[1].find("\"Agilent\""), std::string::npos) << boxes.errors[1];

    driver->setCurrentText("NationalInstruments");
    QTest::mouseDClick(Get<QLabel>("Label1"), Qt::LeftButton);
    ASSERT_EQ(boxes.errors.size(), 3u);
    EXPECT_NE(boxes.errors[2].find("visaconf"), std::string::npos) << boxes.errors[2];
    EXPECT_NE(boxes.errors[2].find(GetSystemErrorText(ENOENT)), std::string::npos) << boxes.errors[2];
}

TEST_F(OpenComDialog, SearchDoesNothingUntilTheFinderIsThere) {
    auto* host = Get<QLineEdit>("EditHost");
    QTest::mouseClick(Get<QPushButton>("ButtonSelectAmp"), Qt::LeftButton);
    EXPECT_EQ(host->text(), "192.168.1.253");

    dialog.SearchAmplifier = [](std::string& address) {
        address = "10.77.0.2";
        return true;
    };
    QTest::mouseClick(Get<QPushButton>("ButtonSelectAmp"), Qt::LeftButton);
    EXPECT_EQ(host->text(), "10.77.0.2");
    EXPECT_TRUE(Radio("RadioButtonConTcp")->isChecked());
    EXPECT_EQ(Get<QLineEdit>("EditTcpport")->text(), "2500");

    dialog.SearchAmplifier = [](std::string& address) {
        address = "ignored";
        return false;
    };
    QTest::mouseClick(Get<QPushButton>("ButtonSelectAmp"), Qt::LeftButton);
    EXPECT_EQ(host->text(), "10.77.0.2");
}
} // namespace
