// gg: the percentage it shows and when it repaints.

#include <QElapsedTimer>
#include <QtTest>

#include "gui_qt/gauge_widget.h"

namespace quillon {
namespace {

// The text each paint of the gauge draws, in order.
class TPaintRecorder : public QObject {
 public:
  explicit TPaintRecorder(TGaugeWidget& widget) : widget_(widget) { widget.installEventFilter(this); }
  QStringList Painted;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &widget_ && event->type() == QEvent::Paint) Painted.append(widget_.Text());
    return false;
  }

 private:
  TGaugeWidget& widget_;
};

}  // namespace

class TGaugeWidgetTest : public QObject {
  Q_OBJECT

 private slots:
  void showsTruncatedWholePercent_data() {
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << 0 << 1000 << 0 << "0%";
    QTest::newRow("999 of 1000 truncates") << 0 << 1000 << 999 << "99%";
    QTest::newRow("full") << 0 << 1000 << 1000 << "100%";
    QTest::newRow("minimum equals maximum") << 5 << 5 << 5 << "0%";
    QTest::newRow("offset range") << -100 << 100 << 0 << "50%";
    QTest::newRow("whole 32-bit range") << INT_MIN << INT_MAX << INT_MAX << "100%";
  }
  void showsTruncatedWholePercent() {
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, position);
    QFETCH(QString, text);
    TGauge gauge;
    gauge.SetMin(std::min(minimum, 0));
    gauge.SetMax(maximum);
    gauge.SetMin(minimum);
    gauge.SetPosition(position);
    TGaugeWidget widget;
    widget.SetGauge(gauge);
    QCOMPARE(widget.Text(), text);
  }

  void startsAtZeroPercent() {
    TGaugeWidget widget;
    QCOMPARE(widget.Text(), QStringLiteral("0%"));
    QCOMPARE(widget.Gauge().Max(), 100);
  }

  void repaintsOnlyWhenThePercentChanges() {
    TGaugeWidget widget;
    TGauge gauge;
    gauge.SetMax(100000);
    for (int position = 0; position <= 100000; position += 256) {
      gauge.SetPosition(position);
      widget.SetGauge(gauge);
    }
    // 0% is shown already; each of 1% .. 99% once. 100000 is not reached in steps of 256.
    QCOMPARE(widget.RepaintRequests(), 99);
    gauge.SetPosition(0);
    widget.SetGauge(gauge);
    QCOMPARE(widget.RepaintRequests(), 100);
    QCOMPARE(widget.Text(), QStringLiteral("0%"));
  }

  // A fast scan moves the percentage at every pump: the gauge paints at most ten times a
  // second, and its last paint draws the last percentage.
  void paintsAtMostTenTimesASecondEndingOnTheLastPercent() {
    TGaugeWidget widget;
    widget.resize(202, 19);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QCoreApplication::processEvents();
    TPaintRecorder recorder(widget);
    TGauge gauge;
    gauge.SetMax(100);
    QElapsedTimer clock;
    clock.start();
    for (int percent = 1; percent <= 100; ++percent) {
      gauge.SetPosition(percent);
      widget.SetGauge(gauge);
      QCoreApplication::processEvents();
      QTest::qSleep(3);
    }
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(widget.RepaintRequests(), 100);
    // One paint at once and one per interval after it; the window system may ask for one of
    // its own on a loaded machine (a late expose), which says nothing of the gauge.
    QVERIFY2(recorder.Painted.size() <= elapsed / TGaugeWidget::kRepaintIntervalMs + 2,
             qPrintable(recorder.Painted.join(' ') + " in " + QString::number(elapsed) + " ms"));
    QTRY_COMPARE(recorder.Painted.last(), QStringLiteral("100%"));
    // Back to 0% at the end of a run, right after a paint: drawn too, a moment later.
    gauge.SetPosition(0);
    widget.SetGauge(gauge);
    QTRY_COMPARE(recorder.Painted.last(), QStringLiteral("0%"));
  }

  void paintsTheBarInNavyUpToThePercent() {
    TGaugeWidget widget;
    widget.resize(202, 19);
    TGauge gauge;
    gauge.SetPosition(50);
    widget.SetGauge(gauge);
    const QImage image = widget.grab().toImage();
    QCOMPARE(image.pixelColor(10, 3), QColor(0, 0, 128));
    QCOMPARE(image.pixelColor(190, 3), QColor(Qt::white));
  }
};

}  // namespace quillon

QTEST_MAIN(quillon::TGaugeWidgetTest)
#include "gauge_widget_test.moc"
