// gg: the percentage it shows and when it repaints.

#include <QtTest>

#include "gui_qt/gauge_widget.h"

namespace quillon {

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
