// The baseline of bench_startup: the least a Qt Widgets program does before its first window, one
// dialog with a text and two buttons.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle("Open Connection");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel("tcp:127.0.0.1:2500"));
    layout->addWidget(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel));
    dialog.show();
    return QApplication::exec();
}
