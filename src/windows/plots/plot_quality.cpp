// The signal-quality window: the report's figures beside their limits, and the code-domain
// power of one slot at a time as bars, with what the parameters asked for marked on them.

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

#include "UI/quality_table.h"
#include "windows/plots/plots.h"

namespace windows::plots {

// What each plot shows, worked out without a display (src/UI).
using namespace ::ui;

namespace {

QTableWidget* figureTable(const onex::quality::Report& report) {
    const std::vector<QualityRow> rows = qualityRows(report);
    auto* table = new QTableWidget(static_cast<int>(rows.size()), 3);
    table->setObjectName("tblSignalQuality");
    table->setAccessibleName("Signal quality figures");
    table->setHorizontalHeaderLabels({"Figure", "Measured", "Limit"});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const QualityRow& row = rows[static_cast<std::size_t>(r)];
        table->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(row.figure)));
        auto* measured = new QTableWidgetItem(QString::fromStdString(row.measured));
        if (row.withinLimit == QualityRow::Verdict::Fails) measured->setForeground(Qt::red);
        table->setItem(r, 1, measured);
        table->setItem(r, 2, new QTableWidgetItem(QString::fromStdString(row.limit)));
    }
    table->resizeColumnsToContents();
    // All three columns in view, however long the figures' names.
    table->setMinimumWidth(table->horizontalHeader()->length() + 2 * table->frameWidth() + 4);
    return table;
}

void drawSlot(QCustomPlot* plot, const onex::quality::Report& report, int slot) {
    plot->clearPlottables();
    const CodeDomainBars bars = codeDomainBars(report, slot);
    auto* measured = new QCPBars(plot->xAxis, plot->yAxis);
    measured->setName("Measured");
    measured->setBaseValue(bars.floorDb);
    // A bar reaches its base plus its value: the heights are counted from the floor.
    QVector<double> heights;
    for (double level : bars.measuredDb) heights.push_back(level - bars.floorDb);
    measured->setData(QVector<double>(bars.position.begin(), bars.position.end()), heights);
    measured->setWidth(0.8);
    measured->setPen(QPen(QColor(20, 70, 150)));
    measured->setBrush(QColor(40, 110, 200));
    auto* expected = plot->addGraph();
    expected->setName("Set by the parameters");
    expected->setLineStyle(QCPGraph::lsNone);
    expected->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCross, Qt::red, 7));
    expected->setData(QVector<double>(bars.position.begin(), bars.position.end()), QVector<double>(bars.expectedDb.begin(), bars.expectedDb.end()));
    plot->xAxis->setRange(-1, 82);
    plot->yAxis->setRange(bars.floorDb, 3);
    plot->replot();
}

}  // namespace

Handle SX_PlotSignalQuality(Handle parent, const std::string& label, const onex::quality::Report& report) {
    const Handle fig = newPlotWindow("Signal Quality " + label, parent, plot::Placement::Standard);
    addPlotMenus(fig, false, false);
    auto* window = qobject_cast<QMainWindow*>(windows::gui::windowOf(fig));
    auto* content = new QWidget;
    auto* layout = new QHBoxLayout(content);
    layout->addWidget(figureTable(report));
    auto* right = new QVBoxLayout;
    auto* slotRow = new QHBoxLayout;
    auto* slotLabel = new QLabel("Code domain of &slot:");
    auto* slotBox = new QSpinBox;
    slotBox->setObjectName("spnSlot");
    slotBox->setRange(1, static_cast<int>(report.perSlot.size()));
    slotLabel->setBuddy(slotBox);
    slotRow->addWidget(slotLabel);
    slotRow->addWidget(slotBox);
    slotRow->addStretch();
    right->addLayout(slotRow);
    auto* plot = new QCustomPlot;
    plot->setObjectName("plotCodeDomain");
    plot->setAccessibleName("Code-domain power");
    plot->setMinimumSize(520, 320);
    plot->xAxis->setLabel("Pilot (0), MAC index (4 to 63), traffic Walsh channel (66 to 81)");
    plot->yAxis->setLabel("dB relative to a pilot chip");
    plot->legend->setVisible(true);
    right->addWidget(plot);
    layout->addLayout(right, 1);
    window->setCentralWidget(content);
    QObject::connect(slotBox, &QSpinBox::valueChanged, plot, [plot, report](int slot) { drawSlot(plot, report, slot); });
    drawSlot(plot, report, 1);
    window->resize(1100, 520);
    // Wider than the other plot windows: kept on the screen it opens on.
    if (const QScreen* screen = window->screen()) {
        const QRect free = screen->availableGeometry();
        QRect frame = window->geometry();
        frame.moveRight(std::min(frame.right(), free.right()));
        frame.moveLeft(std::max(frame.left(), free.left()));
        frame.moveBottom(std::min(frame.bottom(), free.bottom()));
        frame.moveTop(std::max(frame.top(), free.top()));
        window->setGeometry(frame);
    }
    windows::gui::set(fig, "Visible", "on");
    return fig;
}

}  // namespace windows::plots
