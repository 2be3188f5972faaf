// The colour dialog's custom colours live as long as the program runs and nowhere else: every
// run starts with 16 empty slots, whatever another Qt program left in the user's settings, and
// nothing is written to disk. Each run is a child process of this test (the same program with
// --one-run) under a private home and configuration directory.
#include <QColorDialog>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <map>

#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "hid/platform/sim/sim_platform.h"

using namespace glowstep;

namespace {

constexpr int kSlots = 16;
const QRgb kEmptySlot = QColor(Qt::white).rgba();

QString SlotsText() {
  QStringList colours;
  for (int i = 0; i < kSlots; ++i)
    colours << QString::number(QColorDialog::customColor(i).rgba(), 16);
  return colours.join(QLatin1Char(' '));
}

// Runs `action` on the colour dialog once it is open.
void WhenDialogOpen(const std::function<void(QColorDialog*)>& action) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, action] {
    auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    poll->stop();
    poll->deleteLater();
    action(dialog);
  });
  poll->start(1);
}

// One run of the program: pick the main colour, adding the pick to the custom colours with the
// dialog's own button, then open the dialog for the standby colour. Prints the slots found on
// the first opening and the first slot on the second.
int OneRun(int argc, char** argv) {
  TApplication app(argc, argv);
  TSimPlatform platform;
  TQtMainThreadPort port([](std::exception_ptr) {});
  TMainWindow window(platform, port);
  WhenDialogOpen([](QColorDialog* dialog) {
    std::printf("first-opening %s\n", qPrintable(SlotsText()));
    dialog->setCurrentColor(QColor(0x12, 0x34, 0x56));
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
      if (button->text().contains(QStringLiteral("Custom"))) button->click();
    }
    dialog->accept();
  });
  window.MainColorMouseDown();
  WhenDialogOpen([](QColorDialog* dialog) {
    std::printf("second-opening %s\n",
                qPrintable(QString::number(QColorDialog::customColor(0).rgba(), 16)));
    dialog->reject();
  });
  window.IdleColorMouseDown();
  return 0;
}

// Every file below `root`, with its contents.
std::map<QString, QByteArray> FilesBelow(const QString& root) {
  std::map<QString, QByteArray> files;
  QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile file(it.next());
    file.open(QIODevice::ReadOnly);
    files[file.fileName()] = file.readAll();
  }
  return files;
}

}  // namespace

class ColorDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void customColoursLiveForOneRunAndNeverReachTheDisk() {
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString config = home.filePath(QStringLiteral(".config"));
    QVERIFY(QDir().mkpath(config));
    // What another Qt program leaves behind: custom colours in the user's Qt settings.
    QFile other(config + QStringLiteral("/QtProject.conf"));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("[Qt]\ncustomColors\\0=4278255360\ncustomColors\\5=4294901760\n");
    other.close();
    const std::map<QString, QByteArray> before = FilesBelow(home.path());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    const QString empty = QStringList(kSlots, QString::number(kEmptySlot, 16)).join(' ');
    for (int run = 1; run <= 2; ++run) {
      QProcess child;
      child.setProcessEnvironment(environment);
      child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--one-run")});
      QVERIFY(child.waitForFinished(60000));
      QCOMPARE(child.exitStatus(), QProcess::NormalExit);
      QCOMPARE(child.exitCode(), 0);
      const QString output = QString::fromUtf8(child.readAllStandardOutput());
      QVERIFY2(output.contains(QStringLiteral("first-opening ") + empty), qPrintable(output));
      // Shared between the swatches for the rest of the run.
      QVERIFY2(output.contains(QStringLiteral("second-opening ff123456")), qPrintable(output));
      QCOMPARE(FilesBelow(home.path()), before);
    }
  }
};

int main(int argc, char** argv) {
  if (argc > 1 && qstrcmp(argv[argc - 1], "--one-run") == 0) return OneRun(argc, argv);
  TApplication app(argc, argv);
  ColorDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "color_dialog_test.moc"
