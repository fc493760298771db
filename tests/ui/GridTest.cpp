// The grid's texts, cell geometry and drawing, row heights and the spin
// edit's range handling, without a dispenser.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <clocale>
#include <memory>

#include "ParamFrameTexts.h"
#include "params/ParameterUnit.h"
#include "ui/Grid.h"
#include "ui/GridSpinEdit.h"
#include "ui/ParamFrame.h"

using namespace zarvik;

Q_DECLARE_METATYPE(zarvik::TRect)

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

// A window whose list holds one descriptor per call of Add.
struct GridRig {
    GridRig() : frm(std::make_unique<TParamFrm>()) { frm->PrepareList(); }
    ~GridRig() {
        frm.reset();
        ParamFrm = nullptr;
    }
    CParameter* Add(int kind, int page = 0, int min = 0, int max = 100, int decimals = 0, std::string units = {}) {
        auto p = std::make_unique<CParameter>(1, static_cast<std::uint8_t>(ParamList->Count() + 1), 10,
                                              static_cast<std::uint8_t>(decimals), "Имя", std::move(units), 0, min, max,
                                              static_cast<std::uint8_t>(kind), static_cast<std::uint8_t>(page), 1.0L);
        return ParamList->Add(std::move(p));
    }
    std::unique_ptr<TParamFrm> frm;
};

// Columns of dark pixels in an image: first and last, -1 when none.
std::pair<int, int> InkColumns(const QImage& image) {
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (qGray(image.pixel(x, y)) < 128) {
                if (first < 0) first = x;
                last = x;
                break;
            }
    return {first, last};
}

}  // namespace

class GridTest : public QObject {
    Q_OBJECT
private slots:
    void init() { std::setlocale(LC_NUMERIC, "C"); }

    void ValueBox_Geometry_data() {
        QTest::addColumn<TRect>("cell");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<TRect>("text");
        QTest::addColumn<TRect>("frame");
        QTest::newRow("cell 0..24") << TRect{0, 0, 72, 24} << true << TRect{5, 4, 67, 20} << TRect{3, 2, 69, 22};
        QTest::newRow("odd middle") << TRect{10, 5, 84, 30} << true << TRect{15, 9, 79, 25} << TRect{13, 7, 81, 27};
        QTest::newRow("height 0") << TRect{0, 10, 72, 10} << false << TRect{} << TRect{};
        QTest::newRow("negative height") << TRect{0, 10, 72, 9} << false << TRect{} << TRect{};
    }
    void ValueBox_Geometry() {
        QFETCH(TRect, cell);
        QFETCH(bool, visible);
        QFETCH(TRect, text);
        QFETCH(TRect, frame);
        const TValueBox box = ValueBoxRects(cell);
        QCOMPARE(box.visible, visible);
        if (!visible) return;
        QCOMPARE(box.text, text);
        QCOMPARE(box.frame, frame);
    }

    void ValueBox_DrawsFrameOnItsEdgesAndNothingForAnEmptyCell() {
        QImage image(72, 24, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            TParamFrm::DrawValueBox(painter, {0, 0, 72, 24}, QString());
        }
        QCOMPARE(qGray(image.pixel(30, 2)), 0);   // top edge
        QCOMPARE(qGray(image.pixel(30, 21)), 0);  // bottom edge, last row inside 22
        QCOMPARE(qGray(image.pixel(3, 12)), 0);
        QCOMPARE(qGray(image.pixel(68, 12)), 0);
        QCOMPARE(qGray(image.pixel(30, 1)), 255);
        QCOMPARE(qGray(image.pixel(30, 22)), 255);
        QCOMPARE(qGray(image.pixel(69, 12)), 255);

        image.fill(Qt::white);
        {
            QPainter painter(&image);
            TParamFrm::DrawValueBox(painter, {0, 12, 72, 12}, QStringLiteral("123"));
        }
        QCOMPARE(InkColumns(image).first, -1);
    }

    void EditorPlacement_PairSplitsTheInsetCell() {
        const TRect r = EditorRect({95, 0, 305, 24});
        QCOMPARE(r, (TRect{100, 4, 300, 22}));
        const TEditorPair pair = SplitEditorPair(r);
        QCOMPARE(pair.first, (TRect{100, 4, 195, 22}));
        QCOMPARE(pair.second, (TRect{200, 4, 290, 22}));
    }

    void LimitsText_ByKind_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << U("от 0 до 100 ");
        QTest::newRow("6") << 6 << U("от 0 до 100 ");
        QTest::newRow("2") << 2 << U("от 0 до 999 л/мин.");
        QTest::newRow("3") << 3 << U("от -99 до +200 OC (200 - датчик отключен)");
        QTest::newRow("4") << 4 << U("от -99 до +200 OC (200 - датчик отключен)");
        QTest::newRow("5") << 5 << U("от -20 до 0 OC");
        for (int kind : {1, 7, 9, 10, 12}) QTest::newRow(qPrintable(QString::number(kind))) << kind << U("<список>");
    }
    void LimitsText_ByKind() {
        QFETCH(int, kind);
        QFETCH(QString, text);
        GridRig rig;
        rig.Add(kind);
        QCOMPARE(QString::fromStdString(rig.frm->LimitsText(1)), text);
    }

    void LimitsText_NumberFormatWithoutRaiseToMinimum() {
        GridRig rig;
        rig.Add(0, 0, 5, 123456, 2, "л");
        QCOMPARE(QString::fromStdString(rig.frm->LimitsText(1)), U("от 0.05 до 1234.56 л"));
    }

    void NameText_UnitsAndChoices_data() {
        QTest::addColumn<QString>("units");
        QTest::addColumn<QStringList>("choices");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QString() << QStringList() << U("Имя");
        QTest::newRow("units") << U("мл") << QStringList() << U("Имя (мл)");
        QTest::newRow("choices") << QString() << QStringList({"X", "Y"}) << U("Имя:\r\n  X;\r\n  Y");
        QTest::newRow("units and one choice") << U("с") << QStringList({"Z"}) << U("Имя (с):\r\n  Z");
    }
    void NameText_UnitsAndChoices() {
        QFETCH(QString, units);
        QFETCH(QStringList, choices);
        QFETCH(QString, text);
        GridRig rig;
        CParameter* p = rig.Add(0, 0, 0, 1, 0, units.toStdString());
        for (const QString& c : choices) p->Choices.push_back(c.toStdString());
        QCOMPARE(QString::fromStdString(rig.frm->NameText(1)), text);
    }

    void HeaderRow_CodeCentredOthersLeft_data() {
        QTest::addColumn<int>("column");
        QTest::newRow("Код") << 0;
        QTest::newRow("Имя параметра") << 1;
        QTest::newRow("Запись") << 4;
    }
    void HeaderRow_CodeCentredOthersLeft() {
        QFETCH(int, column);
        GridRig rig;
        const int width = rig.frm->RxDGCommon->ColWidth(column);
        QImage image(width, 24, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            painter.setFont(rig.frm->RxDGCommon->font());
            rig.frm->RxDGCommonDrawCell(column, 0, {0, 0, width, 24}, painter);
        }
        const auto [first, last] = InkColumns(image);
        QVERIFY(first >= 0);
        if (column == 0)
            QVERIFY2(std::abs(first - (width - 1 - last)) <= 2,
                     qPrintable(QStringLiteral("%1..%2").arg(first).arg(last)));
        else
            QVERIFY(first <= 4);
    }

    void DataRow_NameCellHasItsGreenBackground() {
        GridRig rig;
        rig.Add(0);
        QImage image(422, 24, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            rig.frm->RxDGCommonDrawCell(1, 1, {0, 0, 422, 24}, painter);
        }
        QCOMPARE(QColor(image.pixel(400, 20)), QColor(0xC0, 0xDC, 0xC0));
    }

    void RowHeights_OneLineIs20_OtherPagesHidden() {
        GridRig rig;
        rig.frm->RowHeightPause = 0;
        rig.Add(0, 0);
        CParameter* tall = rig.Add(7, 0);
        for (int i = 0; i < 6; ++i) tall->Choices.push_back("вариант " + std::to_string(i));
        rig.Add(0, 1);
        rig.frm->RxDGCommon->SetRowCount(4);
        QCOMPARE(rig.frm->CalcRowHeight(1), 20);
        QVERIFY(rig.frm->CalcRowHeight(2) > 6 * QFontMetrics(rig.frm->RxDGCommon->font()).height());

        rig.frm->UpdateRowHeights(0);  // not filled yet: nothing
        QCOMPARE(rig.frm->RxDGCommon->RowHeight(3), TRxDrawGrid::kDefaultRowHeight);
        rig.frm->GridFilled = true;
        rig.frm->UpdateRowHeights(1);
        QCOMPARE(rig.frm->RxDGCommon->RowHeight(1), -1);
        QCOMPARE(rig.frm->RxDGCommon->RowHeight(2), -1);
        QCOMPARE(rig.frm->RxDGCommon->RowHeight(3), 20);
        rig.frm->UpdateRowHeights(0);
        QCOMPARE(rig.frm->RxDGCommon->RowHeight(1), 20);
        QCOMPARE(rig.frm->RxDGCommon->RowHeight(2), rig.frm->CalcRowHeight(2));
        QCOMPARE(rig.frm->RxDGCommon->RowHeight(3), -1);
        QCOMPARE(rig.frm->RxDGCommon->RowHeight(0), TRxDrawGrid::kDefaultRowHeight);
    }

    // Settings arrive value first or range first; the value ends inside the
    // range and at the asked number when the range admits it.
    void SpinEdit_ValueStaysInRangeWhateverTheOrder_data() {
        QTest::addColumn<QString>("order");  // v: value, r: range, d: decimals
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<double>("expected");
        QTest::newRow("value before a wider range") << "vr" << -5.0 << -99.0 << 200.0 << 0 << -5.0;
        QTest::newRow("value after the range") << "rv" << -5.0 << -99.0 << 200.0 << 0 << -5.0;
        QTest::newRow("value above the range") << "rv" << 1500.0 << 0.0 << 999.0 << 0 << 999.0;
        QTest::newRow("value before a range below it") << "vr" << 10.0 << -20.0 << 0.0 << 0 << 0.0;
        QTest::newRow("fraction, decimals first") << "drv" << 1.25 << 0.0 << 10.0 << 2 << 1.25;
        QTest::newRow("fraction, value first") << "vdr" << 1.25 << 0.0 << 10.0 << 2 << 1.25;
        QTest::newRow("integer input rounds") << "rv" << 2.5 << 0.0 << 10.0 << -1 << 2.0;
    }
    void SpinEdit_ValueStaysInRangeWhateverTheOrder() {
        QFETCH(QString, order);
        QFETCH(double, value);
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(int, decimals);
        QFETCH(double, expected);
        TRxSpinEdit edit;
        // A previous editor's narrow range, as the in-place editors keep theirs.
        edit.SetMinValue(0);
        edit.SetMaxValue(1);
        for (QChar step : order) {
            if (step == 'v') edit.SetValue(value);
            if (step == 'r') {
                edit.SetMinValue(min);
                edit.SetMaxValue(max);
            }
            if (step == 'd') {
                edit.SetIntegerInput(decimals < 0);
                edit.SetDecimals(std::max(0, decimals));
            }
        }
        if (decimals >= 0 && !order.contains('d')) {
            edit.SetIntegerInput(decimals == 0);
            edit.SetDecimals(decimals);
        }
        if (decimals < 0) edit.SetIntegerInput(true);
        QCOMPARE(edit.Value(), expected);
        QVERIFY(edit.Value() >= edit.minimum() && edit.Value() <= edit.maximum());
    }
};

QTEST_MAIN(GridTest)
#include "GridTest.moc"
