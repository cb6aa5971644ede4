#include "windows/gui/graphics.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QCursor>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPointer>
#include <QScreen>
#include <QtDataVisualization/Q3DCamera>
#include <QtDataVisualization/Q3DInputHandler>
#include <QtDataVisualization/Q3DScene>
#include <QtDataVisualization/Q3DSurface>
#include <QtDataVisualization/Q3DTheme>
#include <QtDataVisualization/QSurface3DSeries>
#include <QtDataVisualization/QSurfaceDataProxy>
#include <QtDataVisualization/QValue3DAxis>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <qcustomplot.h>

#include "host/console.h"
#include "host/error.h"
#include "host/function_table.h"
#include "windows/gui/callback.h"
#include "windows/gui/objects.h"

namespace windows::gui {

using namespace detail;

namespace {

Limits limitsOf(const Array& v, std::string_view property) {
    const auto n = numbers(v, property, 2);
    if (!(n[0] < n[1]) || !std::isfinite(n[0]) || !std::isfinite(n[1]))
        throw Error("Property " + std::string(property) + " takes two increasing finite limits.");
    return {n[0], n[1]};
}

Array limitsArray(const Limits& l) { return Array::row(std::vector<double>{l.low, l.high}); }

QString qtLabel(const std::string& label) { return QString::fromStdString(label); }



void layoutAxes(FigureObject& f);

class Canvas : public QWidget {
public:
    explicit Canvas(Handle figure) : figure_(figure) {}

protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        if (Object* o = lookup(figure_); o && o->kind == Kind::Figure) layoutAxes(static_cast<FigureObject&>(*o));
    }

private:
    Handle figure_;
};

class FigureWindow : public QMainWindow {
public:
    explicit FigureWindow(Handle figure) : figure_(figure) {
        setCentralWidget(new Canvas(figure));
        centralWidget()->setAutoFillBackground(true);
    }

protected:
    void closeEvent(QCloseEvent* e) override {
        // A window with a close request runs it instead; the request decides what goes.
        if (Object* o = lookup(figure_); o && o->kind == Kind::Figure && !static_cast<FigureObject*>(o)->closeRequest.empty()) {
            e->ignore();
            invokeCallback(figure_);
            return;
        }
        e->accept();
        // The window goes with its figure; deleting it here would pull it from under Qt.
        if (isValid(figure_)) deleteObject(figure_);
    }

    // Escape in a modal window is closing it by its frame, as in any dialog.
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && windowModality() != Qt::NonModal) {
            close();
            return;
        }
        QMainWindow::keyPressEvent(e);
    }

private:
    Handle figure_;
};

// Room around a plot box for tick labels, axis labels and the title, in pixels.
constexpr int kLeftRoom = 70, kBottomRoom = 46, kTopRoom = 28, kRightRoom = 18;

void placeAxes(AxesObject& a, const QSize& canvas) {
    const double w = canvas.width(), h = canvas.height();
    const QRect box(static_cast<int>(std::lround(a.position.left * w)),
                    static_cast<int>(std::lround((1 - a.position.bottom - a.position.height) * h)),
                    std::max(1, static_cast<int>(std::lround(a.position.width * w))),
                    std::max(1, static_cast<int>(std::lround(a.position.height * h))));
    const QMargins room(std::min(kLeftRoom, box.left()), std::min(kTopRoom, box.top()),
                        std::min(kRightRoom, static_cast<int>(w) - box.right() - 1),
                        std::min(kBottomRoom, static_cast<int>(h) - box.bottom() - 1));
    const QMargins clamped(std::max(0, room.left()), std::max(0, room.top()), std::max(0, room.right()), std::max(0, room.bottom()));
    const QRect outer = box.marginsAdded(clamped);
    if (a.plot) {
        a.plot->setGeometry(outer);
        a.plot->axisRect()->setAutoMargins(QCP::msNone);
        a.plot->axisRect()->setMargins(clamped);
    }
    if (a.container) a.container->setGeometry(QRect(0, 0, static_cast<int>(w), static_cast<int>(h)));
}

void layoutAxes(FigureObject& f) {
    if (!f.window) return;
    const QSize size = f.window->centralWidget()->size();
    for (Handle c : f.children)
        if (Object* o = lookup(c); o && o->kind == Kind::Axes) placeAxes(static_cast<AxesObject&>(*o), size);
}

// ---- per-kind properties ------------------------------------------------------------------

Array getFigure(const FigureObject& f, std::string_view p) {
    if (p == "Name") return Array::string(f.name);
    if (p == "Units") return Array::string(f.normalized ? "normalized" : "pixels");
    if (p == "Position") {
        if (!f.window) return positionArray(Position{});
        // Pixels are whole on the screen; a place the program gave reads back as it gave it.
        if (f.window->geometry() == toQt(f.requested, f.normalized)) return positionArray(f.requested);
        return positionArray(fromQt(f.window->geometry(), f.normalized));
    }
    if (p == "MenuBar") return Array::string(f.standardMenuBar ? "figure" : "none");
    if (p == "NumberTitle") return onOffText(f.numberTitle);
    if (p == "Pointer") return Array::string(f.pointer);
    if (p == "CloseRequestFcn") return Array::string(f.closeRequest);
    if (p == "WindowStyle") return Array::string(f.window && f.window->windowModality() != Qt::NonModal ? "modal" : "normal");
    if (p == "Visible") return onOffText(f.window && f.window->isVisible());
    if (p == "Color") {
        const QColor c = f.window ? f.window->centralWidget()->palette().color(QPalette::Window) : QColor(Qt::white);
        return Array::row(std::vector<double>{c.redF(), c.greenF(), c.blueF()});
    }
    unknownProperty(f, p);
}

void setFigure(FigureObject& f, std::string_view p, const Array& v) {
    if (p == "Name") {
        f.name = textOf(v, p);
        if (f.window) f.window->setWindowTitle(QString::fromStdString(f.name));
    } else if (p == "Units") {
        const std::string u = textOf(v, p);
        if (u != "pixels" && u != "normalized") throw Error("Units must be \"pixels\" or \"normalized\", not \"" + u + "\".");
        f.normalized = u == "normalized";
        if (f.window) f.requested = fromQt(f.window->geometry(), f.normalized);  // the same place in the new units
    } else if (p == "Position") {
        f.requested = positionOf(v, p);
        if (f.window) f.window->setGeometry(toQt(f.requested, f.normalized));
    } else if (p == "MenuBar") {
        const std::string m = textOf(v, p);
        if (m != "none" && m != "figure") throw Error("MenuBar must be \"none\" or \"figure\".");
        f.standardMenuBar = m == "figure";
    } else if (p == "NumberTitle") {
        f.numberTitle = onOff(v, p);
    } else if (p == "CloseRequestFcn") {
        f.closeRequest = textOf(v, p);
    } else if (p == "WindowStyle") {
        const std::string style = textOf(v, p);
        if (style != "normal" && style != "modal") throw Error("WindowStyle must be \"normal\" or \"modal\", not \"" + style + "\".");
        const Qt::WindowModality modality = style == "modal" ? Qt::ApplicationModal : Qt::NonModal;
        if (f.window && f.window->windowModality() != modality) {
            // Qt takes a new modality only while the window is hidden.
            const bool shown = f.window->isVisible();
            if (shown) f.window->hide();
            f.window->setWindowModality(modality);
            if (shown) f.window->show();
        }
    } else if (p == "Pointer") {
        f.pointer = textOf(v, p);
        if (f.window) f.window->setCursor(f.pointer == "watch" ? Qt::WaitCursor : Qt::ArrowCursor);
    } else if (p == "Color") {
        const auto c = numbers(v, p, 3);
        for (double x : c)
            if (!(x >= 0 && x <= 1)) throw Error("Property Color takes three values from 0 to 1.");
        if (f.window) {
            QPalette palette = f.window->centralWidget()->palette();
            palette.setColor(QPalette::Window, QColor::fromRgbF(static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2])));
            f.window->centralWidget()->setPalette(palette);
        }
    } else if (p == "Visible") {
        if (!f.window) return;
        if (onOff(v, p)) {
            f.window->show();
            layoutAxes(f);
        } else {
            f.window->hide();
        }
    } else {
        unknownProperty(f, p);
    }
}

Array getMenu(const MenuObject& m, std::string_view p) {
    if (p == "Label" || p == "Text") return Array::string(m.label);
    if (p == "Callback") return Array::string(m.callback);
    if (p == "Checked") return onOffText(m.action && m.action->isChecked());
    if (p == "Enable") return onOffText(m.action && m.action->isEnabled());
    if (p == "Separator") return onOffText(m.separator);
    if (p == "Visible") return onOffText(m.action && m.action->isVisible());
    unknownProperty(m, p);
}

void setMenu(MenuObject& m, std::string_view p, const Array& v) {
    if (p == "Label" || p == "Text") {
        m.label = textOf(v, p);
        if (m.action) m.action->setText(qtLabel(m.label));
    } else if (p == "Callback") {
        m.callback = textOf(v, p);
    } else if (p == "Checked") {
        const bool on = onOff(v, p);
        if (m.action) {
            m.action->setCheckable(on || m.action->isCheckable());
            m.action->setChecked(on);
        }
    } else if (p == "Enable") {
        if (m.action) m.action->setEnabled(onOff(v, p));
    } else if (p == "Separator") {
        m.separator = onOff(v, p);
        if (m.separatorBefore) m.separatorBefore->setVisible(m.separator);
    } else if (p == "Visible") {
        if (m.action) m.action->setVisible(onOff(v, p));
    } else {
        unknownProperty(m, p);
    }
}

QCPAxis* axisOf(AxesObject& a, char which) {
    if (!a.plot) return nullptr;
    return which == 'x' ? a.plot->xAxis : a.plot->yAxis;
}

void applyLimits(AxesObject& a) {
    if (a.plot) {
        a.plot->xAxis->setRange(a.x.low, a.x.high);
        a.plot->yAxis->setRange(a.y.low, a.y.high);
    }
    if (a.plot && a.zSet)
        for (int i = 0; i < a.plot->plottableCount(); ++i)
            if (auto* map = qobject_cast<QCPColorMap*>(a.plot->plottable(i))) map->setDataRange(QCPRange(a.z.low, a.z.high));
    if (a.surface) {
        a.surface->axisX()->setRange(static_cast<float>(a.x.low), static_cast<float>(a.x.high));
        a.surface->axisZ()->setRange(static_cast<float>(a.y.low), static_cast<float>(a.y.high));
        if (a.zSet) a.surface->axisY()->setRange(static_cast<float>(a.z.low), static_cast<float>(a.z.high));
    }
}

void setLogScale(QCPAxis* axis, bool log) {
    if (log) {
        axis->setScaleType(QCPAxis::stLogarithmic);
        QSharedPointer<QCPAxisTickerLog> ticker(new QCPAxisTickerLog);
        ticker->setLogBase(10);
        ticker->setSubTickCount(8);  // 2 .. 9 between the decades
        axis->setTicker(ticker);
        axis->setNumberFormat("gb");
        axis->setNumberPrecision(6);
    } else {
        axis->setScaleType(QCPAxis::stLinear);
        axis->setTicker(QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
        axis->setNumberFormat("g");
    }
}

void applyLabels(AxesObject& a) {
    if (a.plot) {
        a.plot->xAxis->setLabel(QString::fromStdString(a.xLabel));
        a.plot->yAxis->setLabel(QString::fromStdString(a.yLabel));
        if (a.title) a.title->setText(QString::fromStdString(a.titleText));
    }
    if (a.surface) {
        a.surface->axisX()->setTitle(QString::fromStdString(a.xLabel));
        a.surface->axisZ()->setTitle(QString::fromStdString(a.yLabel));
        a.surface->axisY()->setTitle(QString::fromStdString(a.zLabel));
        for (QValue3DAxis* axis : {a.surface->axisX(), a.surface->axisY(), a.surface->axisZ()}) axis->setTitleVisible(true);
        a.surface->axisY()->setLabelFormat("%.0f");
        a.surface->setTitle(QString::fromStdString(a.titleText));
    }
}

void setGrid(QCPAxis* axis, bool on) {
    axis->grid()->setVisible(on);
    axis->grid()->setPen(QPen(QColor(150, 150, 150), 0, Qt::DotLine));
}

Array getAxes(AxesObject& a, std::string_view p) {
    if (p == "Position") return positionArray(a.position);
    if (p == "XLim") return limitsArray(a.plot ? Limits{a.plot->xAxis->range().lower, a.plot->xAxis->range().upper} : a.x);
    if (p == "YLim") return limitsArray(a.plot ? Limits{a.plot->yAxis->range().lower, a.plot->yAxis->range().upper} : a.y);
    if (p == "ZLim") return limitsArray(a.z);
    if (p == "XScale" || p == "YScale") {
        QCPAxis* axis = axisOf(a, p[0] == 'X' ? 'x' : 'y');
        return Array::string(axis && axis->scaleType() == QCPAxis::stLogarithmic ? "log" : "linear");
    }
    if (p == "XGrid" || p == "YGrid") {
        QCPAxis* axis = axisOf(a, p[0] == 'X' ? 'x' : 'y');
        return onOffText(axis && axis->grid()->visible());
    }
    if (p == "Title") return Array::string(a.titleText);
    if (p == "XLabel") return Array::string(a.xLabel);
    if (p == "YLabel") return Array::string(a.yLabel);
    if (p == "ZLabel") return Array::string(a.zLabel);
    if (p == "XTick") {
        std::vector<double> ticks;
        if (a.plot) {
            QVector<double> t;
            QVector<QString> labels;
            a.plot->xAxis->ticker()->generate(a.plot->xAxis->range(), QLocale(), 'g', 6, t, nullptr, &labels);
            ticks.assign(t.begin(), t.end());
        }
        return Array::row(ticks);
    }
    unknownProperty(a, p);
}

void setAxes(AxesObject& a, std::string_view p, const Array& v) {
    if (p == "Position") {
        a.position = positionOf(v, p);
        if (Object* f = lookup(a.parent); f && f->kind == Kind::Figure) layoutAxes(static_cast<FigureObject&>(*f));
    } else if (p == "XLim" || p == "YLim" || p == "ZLim") {
        const Limits l = limitsOf(v, p);
        if (p == "XLim") {
            a.x = l;
            a.xSet = true;
        }
        if (p == "YLim") {
            a.y = l;
            a.ySet = true;
        }
        if (p == "ZLim") {
            a.z = l;
            a.zSet = true;
        }
        applyLimits(a);
    } else if (p == "XScale" || p == "YScale") {
        const std::string s = textOf(v, p);
        if (s != "log" && s != "linear") throw Error(std::string(p) + " must be \"log\" or \"linear\".");
        if (QCPAxis* axis = axisOf(a, p[0] == 'X' ? 'x' : 'y')) setLogScale(axis, s == "log");
    } else if (p == "XGrid" || p == "YGrid") {
        if (QCPAxis* axis = axisOf(a, p[0] == 'X' ? 'x' : 'y')) setGrid(axis, onOff(v, p));
    } else if (p == "Title" || p == "XLabel" || p == "YLabel" || p == "ZLabel") {
        std::string& target = p == "Title" ? a.titleText : p == "XLabel" ? a.xLabel : p == "YLabel" ? a.yLabel : a.zLabel;
        target = textOf(v, p);
        applyLabels(a);
    } else if (p == "XTick") {
        const auto t = numbers(v, p);
        if (t.size() < 2 || !(t[1] > t[0])) throw Error("XTick takes at least two increasing values.");
        if (a.plot) {
            QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
            ticker->setTickStep(t[1] - t[0]);
            ticker->setScaleStrategy(QCPAxisTickerFixed::ssNone);
            a.plot->xAxis->setTicker(ticker);
        }
    } else {
        unknownProperty(a, p);
    }
    if (a.plot) a.plot->replot(QCustomPlot::rpQueuedReplot);
}

QColor colorOf(const LineOptions& o) {
    return QColor::fromRgbF(static_cast<float>(o.red), static_cast<float>(o.green), static_cast<float>(o.blue));
}

void styleLine(LineObject& l) {
    QPen pen(colorOf(l.options));
    pen.setWidthF(0);  // a cosmetic one-pixel line: fastest for a million points
    const bool noLine = l.options.lineStyle == "none";
    if (l.options.lineStyle == ":") pen.setStyle(Qt::DotLine);
    if (l.options.lineStyle == "--") pen.setStyle(Qt::DashLine);
    QCPScatterStyle scatter(QCPScatterStyle::ssNone);
    if (l.options.marker == ".") scatter = QCPScatterStyle(QCPScatterStyle::ssDisc, colorOf(l.options), 3);
    if (l.options.marker == "o") scatter = QCPScatterStyle(QCPScatterStyle::ssCircle, colorOf(l.options), 6);
    if (auto* g = qobject_cast<QCPGraph*>(l.plottable.data())) {
        g->setPen(pen);
        g->setLineStyle(noLine ? QCPGraph::lsNone : QCPGraph::lsLine);
        g->setScatterStyle(scatter);
    } else if (auto* c = qobject_cast<QCPCurve*>(l.plottable.data())) {
        c->setPen(pen);
        c->setLineStyle(noLine ? QCPCurve::lsNone : QCPCurve::lsLine);
        c->setScatterStyle(scatter);
    }
}

// Beyond this many points a smooth line costs more drawing time than it shows.
constexpr std::size_t kAntialiasedPoints = 20000;

void setLineData(LineObject& l, std::span<const double> x, std::span<const double> y) {
    if (l.plottable) l.plottable->setAntialiased(x.size() <= kAntialiasedPoints);
    const auto n = static_cast<qsizetype>(x.size());
    // The points go straight into the plottable's own storage, the only copy kept: a
    // million-point line would otherwise be copied and sorted on the way.
    if (auto* g = qobject_cast<QCPGraph*>(l.plottable.data())) {
        QVector<QCPGraphData> points(n);
        for (qsizetype i = 0; i < n; ++i) points[i] = QCPGraphData(x[static_cast<std::size_t>(i)], y[static_cast<std::size_t>(i)]);
        g->data()->set(points, std::is_sorted(x.begin(), x.end()));
    } else if (auto* c = qobject_cast<QCPCurve*>(l.plottable.data())) {
        QVector<QCPCurveData> points(n);
        for (qsizetype i = 0; i < n; ++i)
            points[i] = QCPCurveData(static_cast<double>(i), x[static_cast<std::size_t>(i)], y[static_cast<std::size_t>(i)]);
        c->data()->set(points, true);  // already in drawing order
    }
}

// The x or y values of a line, read back from the plottable's storage in drawing order.
std::vector<double> lineData(const LineObject& l, bool wantX) {
    std::vector<double> v;
    auto collect = [&](const auto& container) {
        v.reserve(static_cast<std::size_t>(container->size()));
        for (auto it = container->constBegin(); it != container->constEnd(); ++it) v.push_back(wantX ? it->mainKey() : it->mainValue());
    };
    if (auto* g = qobject_cast<QCPGraph*>(l.plottable.data())) collect(g->data());
    if (auto* c = qobject_cast<QCPCurve*>(l.plottable.data())) collect(c->data());
    return v;
}

Array getLine(const LineObject& l, std::string_view p) {
    if (p == "XData") return Array::row(lineData(l, true));
    if (p == "YData") return Array::row(lineData(l, false));
    if (p == "Color") return Array::row(std::vector<double>{l.options.red, l.options.green, l.options.blue});
    if (p == "LineStyle") return Array::string(l.options.lineStyle);
    if (p == "Marker") return Array::string(l.options.marker);
    unknownProperty(l, p);
}

void setLine(LineObject& l, std::string_view p, const Array& v) {
    if (p == "XData" || p == "YData") {
        std::vector<double> x = p == "XData" ? numbers(v, p) : lineData(l, true);
        std::vector<double> y = p == "YData" ? numbers(v, p) : lineData(l, false);
        if (x.size() != y.size()) throw Error("Property " + std::string(p) + " must keep as many values as the line has points.");
        setLineData(l, x, y);
    } else if (p == "Color") {
        const auto c = numbers(v, p, 3);
        l.options.red = c[0];
        l.options.green = c[1];
        l.options.blue = c[2];
        styleLine(l);
    } else if (p == "LineStyle") {
        l.options.lineStyle = textOf(v, p);
        styleLine(l);
    } else if (p == "Marker") {
        l.options.marker = textOf(v, p);
        styleLine(l);
    } else {
        unknownProperty(l, p);
    }
    if (l.plottable && l.plottable->parentPlot()) l.plottable->parentPlot()->replot(QCustomPlot::rpQueuedReplot);
}

}  // namespace

namespace detail {

const char* typeName(Kind k) {
    switch (k) {
        case Kind::Root: return "root";
        case Kind::Figure: return "figure";
        case Kind::Menu: return "uimenu";
        case Kind::Axes: return "axes";
        case Kind::Line: return "line";
        case Kind::Surface: return "surface";
        case Kind::Control: return "uicontrol";
    }
    return "";
}

// Removes an object and its descendants from the table; the Qt side goes with the figure
// window or is deleted here for objects inside a figure that stays.
namespace {

// `withQt`: also remove the object's Qt side. Inside a figure that is going, its window takes
// everything with it; and a menu item may be going from within its own triggered signal, so
// Qt objects are always deleted later, never while they may be on the call stack.
void forgetObject(Handle h, bool withQt) {
    Object* o = lookup(h);
    if (!o) return;
    const bool figure = o->kind == Kind::Figure;
    for (Handle c : std::vector<Handle>(o->children)) forgetObject(c, withQt && !figure);
    if (withQt && !figure) {
        if (auto* m = dynamic_cast<MenuObject*>(o)) {
            if (m->separatorBefore) m->separatorBefore->deleteLater();
            if (m->menu && m->action && m->action->menu() == m->menu) m->menu->deleteLater();
            if (m->action) {
                m->action->setVisible(false);
                m->action->deleteLater();
            }
        }
        if (auto* l = dynamic_cast<LineObject*>(o); l && l->plottable && l->plottable->parentPlot())
            l->plottable->parentPlot()->removePlottable(l->plottable.data());
        if (auto* a = dynamic_cast<AxesObject*>(o)) {
            if (a->plot) {
                a->plot->hide();
                a->plot->deleteLater();
            }
            if (a->container) {
                a->container->hide();
                a->container->deleteLater();
            }
        }
    }
    if (auto* f = dynamic_cast<FigureObject*>(o)) {
        if (f->waiting) f->waiting->quit();
        if (f->window) {
            f->window->hide();
            f->window->deleteLater();
        }
    }
    Registry& r = registry();
    if (Object* p = lookup(o->parent)) std::erase(p->children, h);
    if (r.currentFigure == h) r.currentFigure = 0;
    r.objects.erase(h);
}

}  // namespace

void forget(Handle h) { forgetObject(h, true); }

}  // namespace detail

// ---- application --------------------------------------------------------------------------

namespace {

QtMessageHandler qtDefaultHandler = nullptr;

// Notes of the offscreen platform that say nothing to a user of the command line.
void quietPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("This plugin does not support")) ||
        message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    if (qtDefaultHandler)
        qtDefaultHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

}  // namespace

void ensureApplication() {
    if (QApplication::instance()) return;
    qtDefaultHandler = qInstallMessageHandler(quietPlatformNotes);
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!platform || !*platform) && (!display || !*display) && (!wayland || !*wayland)) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "brevia";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives as long as the process, as the host's own does
    // Qt has just set the C library's locale from the environment; numbers written and read
    // by the C library (reports, instrument replies, other libraries) keep the decimal point.
    std::setlocale(LC_NUMERIC, "C");
}

bool offscreen() {
    ensureApplication();
    return QGuiApplication::platformName() == QLatin1String("offscreen") || QGuiApplication::platformName() == QLatin1String("minimal");
}

bool threeDimensionalViewsAvailable() {
    static const bool available = [] {
        if (offscreen()) return false;  // no OpenGL there, and the 3-D view would abort
        QOffscreenSurface surface;
        surface.create();
        QOpenGLContext context;
        return context.create() && context.makeCurrent(&surface);
    }();
    return available;
}

// ---- creation -----------------------------------------------------------------------------

Handle figure(const FigureOptions& options) {
    ensureApplication();
    auto owned = std::make_unique<FigureObject>();
    FigureObject& f = add(std::move(owned), Kind::Figure, kRoot);
    f.name = options.name;
    f.normalized = options.normalized;
    f.standardMenuBar = options.standardMenuBar;
    f.window = new FigureWindow(f.handle);
    f.window->setWindowTitle(QString::fromStdString(f.name));
    f.requested = options.position;
    f.window->setGeometry(toQt(options.position, options.normalized));
    QPalette palette = f.window->centralWidget()->palette();
    palette.setColor(QPalette::Window, Qt::white);
    f.window->centralWidget()->setPalette(palette);
    registry().currentFigure = f.handle;
    return f.handle;
}

Handle uimenu(Handle parent, const MenuOptions& options) {
    Object& p = object(parent);
    if (p.kind != Kind::Figure && p.kind != Kind::Menu) throw Error("A menu belongs to a figure or to another menu.");
    auto owned = std::make_unique<MenuObject>();
    MenuObject& m = add(std::move(owned), Kind::Menu, parent);
    m.label = options.label;
    m.callback = options.callback;
    m.tag = options.tag;
    m.separator = options.separator;
    const Handle self = m.handle;
    if (p.kind == Kind::Figure) {
        auto& f = static_cast<FigureObject&>(p);
        m.menu = f.window->menuBar()->addMenu(qtLabel(m.label));
        m.action = m.menu->menuAction();
    } else {
        auto& pm = static_cast<MenuObject&>(p);
        if (!pm.menu) {  // an item that now holds items becomes a submenu
            pm.menu = new QMenu(qtLabel(pm.label));
            pm.action->setMenu(pm.menu);
        }
        m.separatorBefore = pm.menu->addSeparator();
        m.separatorBefore->setVisible(m.separator);
        m.action = pm.menu->addAction(qtLabel(m.label));
        QObject::connect(m.action, &QAction::triggered, [self] { invokeCallback(self); });
    }
    m.action->setEnabled(options.enabled);
    return self;
}

Handle axes(Handle figureHandle) { return axes(figureHandle, Position{0.13, 0.11, 0.775, 0.815}); }

// Zoom and pan stay where the data can be shown: an axis spans at least a few samples (a
// ten-thousandth of its home range, or four samples of a line's data where that is more) and
// at most its home range with a tenth of it either side, and stays inside that. Home is
// where the program put the axis (XLim, YLim), else the data's extent. Without this a few
// zooms collapse an axis to one value and the wheel runs out to 1e22.
void boundAxis(Handle axesHandle, bool isX) {
    Object* o = lookup(axesHandle);
    if (!o || o->kind != Kind::Axes) return;
    auto& a = static_cast<AxesObject&>(*o);
    if (!a.plot) return;
    QCPAxis* axis = isX ? a.plot->xAxis : a.plot->yAxis;
    const bool log = axis->scaleType() == QCPAxis::stLogarithmic;
    Limits home = isX ? a.x : a.y;
    if (!(isX ? a.xSet : a.ySet)) {
        bool any = false;
        QCPRange data;
        for (int i = 0; i < a.plot->plottableCount(); ++i) {
            bool found = false;
            QCPAbstractPlottable* p = a.plot->plottable(i);
            const QCPRange r = isX ? p->getKeyRange(found, log ? QCP::sdPositive : QCP::sdBoth)
                                   : p->getValueRange(found, log ? QCP::sdPositive : QCP::sdBoth);
            if (!found) continue;
            data = any ? QCPRange(std::min(data.lower, r.lower), std::max(data.upper, r.upper)) : r;
            any = true;
        }
        if (!any) return;
        home = {data.lower, data.upper};
    }
    if (log && !(home.low > 0)) return;
    auto in = [log](double v) { return log ? std::log10(v) : v; };
    auto out = [log](double v) { return log ? std::pow(10.0, v) : v; };
    const double low = in(home.low), high = in(home.high), span = high - low;
    if (!(span > 0) || !std::isfinite(span)) return;
    double minSpan = span * 1e-4;
    if (isX && !log)
        for (int i = 0; i < a.plot->graphCount(); ++i)
            if (const auto data = a.plot->graph(i)->data(); data->size() >= 2) {
                const double spacing = (data->at(data->size() - 1)->key - data->at(0)->key) / (data->size() - 1);
                if (spacing > 0) minSpan = std::max(span * 1e-6, std::min(minSpan, 4 * spacing));
            }
    const double outerLow = low - 0.1 * span, outerHigh = high + 0.1 * span;
    const QCPRange now = axis->range();
    double l = in(now.lower), h = in(now.upper);
    if (!std::isfinite(l) || !std::isfinite(h)) {
        l = low;
        h = high;
    }
    if (h - l < minSpan) {
        const double centre = (l + h) / 2;
        l = centre - minSpan / 2;
        h = centre + minSpan / 2;
    }
    if (h - l > outerHigh - outerLow) {
        l = outerLow;
        h = outerHigh;
    }
    if (l < outerLow) {
        h += outerLow - l;
        l = outerLow;
    }
    if (h > outerHigh) {
        l -= h - outerHigh;
        h = outerHigh;
    }
    const QCPRange bounded(out(l), out(h));
    if (bounded.lower != now.lower || bounded.upper != now.upper) axis->setRange(bounded);
}

Handle axes(Handle figureHandle, const Position& position) {
    auto& f = as<FigureObject>(figureHandle, Kind::Figure, "a figure");
    auto owned = std::make_unique<AxesObject>();
    AxesObject& a = add(std::move(owned), Kind::Axes, figureHandle);
    a.position = position;
    a.plot = new QCustomPlot(f.window->centralWidget());
    a.plot->setNoAntialiasingOnDrag(true);
    a.plot->setPlottingHint(QCP::phFastPolylines, true);
    // The plot box keeps its place in the window, so ticks and labels must fit the room
    // around it even in a small window: compact fonts and paddings.
    const QString family = a.plot->font().family();
    for (QCPAxis* axis : {a.plot->xAxis, a.plot->yAxis}) {
        axis->setTickLabelFont(QFont(family, 8));
        axis->setLabelFont(QFont(family, 8));
        axis->setTickLabelPadding(3);
        axis->setLabelPadding(2);
    }
    // The title is drawn in the room above the plot box, so that the box keeps its position.
    a.title = new QCPItemText(a.plot);
    a.title->setClipToAxisRect(false);
    a.title->position->setType(QCPItemPosition::ptAxisRectRatio);
    a.title->position->setCoords(0.5, 0);
    a.title->setPositionAlignment(Qt::AlignBottom | Qt::AlignHCenter);
    a.title->setPadding(QMargins(0, 0, 0, 4));
    a.title->setFont(QFont(a.plot->font().family(), 9, QFont::Bold));
    for (QCPAxis* axis : {a.plot->xAxis, a.plot->yAxis, a.plot->xAxis2, a.plot->yAxis2}) axis->grid()->setVisible(false);
    a.plot->xAxis2->setVisible(true);
    a.plot->yAxis2->setVisible(true);
    a.plot->xAxis2->setTickLabels(false);
    a.plot->yAxis2->setTickLabels(false);
    QObject::connect(a.plot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), a.plot->xAxis2,
                     qOverload<const QCPRange&>(&QCPAxis::setRange));
    QObject::connect(a.plot->yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), a.plot->yAxis2,
                     qOverload<const QCPRange&>(&QCPAxis::setRange));
    const Handle h = a.handle;
    QObject::connect(a.plot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), a.plot, [h] { boundAxis(h, true); });
    QObject::connect(a.plot->yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), a.plot, [h] { boundAxis(h, false); });
    a.plot->show();
    placeAxes(a, f.window->centralWidget()->size());
    return a.handle;
}

Handle line(Handle axesHandle, std::span<const double> x, std::span<const double> y, const LineOptions& options) {
    auto& a = as<AxesObject>(axesHandle, Kind::Axes, "an axes");
    if (x.size() != y.size()) throw Error("Vectors must be the same lengths.");
    if (!a.plot) throw Error("These axes hold a three-dimensional view.");
    auto owned = std::make_unique<LineObject>();
    LineObject& l = add(std::move(owned), Kind::Line, axesHandle);
    l.options = options;
    if (options.keepOrder)
        l.plottable = new QCPCurve(a.plot->xAxis, a.plot->yAxis);
    else
        l.plottable = a.plot->addGraph(a.plot->xAxis, a.plot->yAxis);
    styleLine(l);
    setLineData(l, x, y);
    a.plot->replot(QCustomPlot::rpQueuedReplot);
    return l.handle;
}

Handle waterfall(Handle axesHandle, std::span<const double> x, std::span<const double> y, std::span<const double> z) {
    auto& a = as<AxesObject>(axesHandle, Kind::Axes, "an axes");
    if (z.size() != x.size() * y.size()) throw Error("waterfall: Z must have one value per X and Y pair.");
    if (x.size() < 2 || y.size() < 1) throw Error("waterfall: at least two frequencies and one slice are needed.");
    auto owned = std::make_unique<SurfaceObject>();
    SurfaceObject& s = add(std::move(owned), Kind::Surface, axesHandle);
    auto& f = as<FigureObject>(a.parent, Kind::Figure, "a figure");
    if (threeDimensionalViewsAvailable()) {
        auto* graph = new Q3DSurface();
        graph->activeTheme()->setType(Q3DTheme::ThemeQt);
        graph->setAxisX(new QValue3DAxis);
        graph->setAxisY(new QValue3DAxis);
        graph->setAxisZ(new QValue3DAxis);
        graph->scene()->activeCamera()->setCameraPreset(Q3DCamera::CameraPresetIsometricLeft);
        auto* proxy = new QSurfaceDataProxy;
        auto* rows = new QSurfaceDataArray;
        rows->reserve(static_cast<qsizetype>(y.size()));
        for (std::size_t j = 0; j < y.size(); ++j) {
            auto* row = new QSurfaceDataRow(static_cast<qsizetype>(x.size()));
            for (std::size_t i = 0; i < x.size(); ++i) {
                const double level = z[j * x.size() + i];
                (*row)[static_cast<qsizetype>(i)].setPosition(
                    QVector3D(static_cast<float>(x[i]), static_cast<float>(std::isfinite(level) ? level : -1e9), static_cast<float>(y[j])));
            }
            rows->append(row);
        }
        proxy->resetArray(rows);
        auto* series = new QSurface3DSeries(proxy);
        series->setDrawMode(QSurface3DSeries::DrawSurface);
        series->setFlatShadingEnabled(false);
        QLinearGradient gradient;
        gradient.setColorAt(0.0, QColor(20, 30, 120));
        gradient.setColorAt(0.5, QColor(30, 170, 120));
        gradient.setColorAt(1.0, QColor(250, 220, 40));
        series->setBaseGradient(gradient);
        series->setColorStyle(Q3DTheme::ColorStyleRangeGradient);
        graph->addSeries(series);
        if (auto* input = qobject_cast<Q3DInputHandler*>(graph->activeInputHandler())) input->setRotationEnabled(false);
        a.surface = graph;
        a.container = QWidget::createWindowContainer(graph, f.window->centralWidget());
        a.container->show();
        delete a.plot.data();
    } else {
        // A flat view of the same levels: frequency across, time up, level as colour.
        auto* map = new QCPColorMap(a.plot->xAxis, a.plot->yAxis);
        map->data()->setSize(static_cast<int>(x.size()), static_cast<int>(y.size()));
        map->data()->setRange(QCPRange(x.front(), x.back()), QCPRange(y.front(), y.back()));
        for (std::size_t j = 0; j < y.size(); ++j)
            for (std::size_t i = 0; i < x.size(); ++i) {
                const double level = z[j * x.size() + i];
                map->data()->setCell(static_cast<int>(i), static_cast<int>(j), std::isfinite(level) ? level : -1e9);
            }
        map->setGradient(QCPColorGradient::gpJet);
        map->setInterpolate(false);
        map->rescaleDataRange(true);
    }
    placeAxes(a, f.window->centralWidget()->size());
    applyLabels(a);
    applyLimits(a);
    return s.handle;
}

// ---- properties ---------------------------------------------------------------------------

Array get(Handle h, std::string_view p) {
    if (h == kRoot) {
        const QRect s = screenRect();
        if (p == "Units") return Array::string("pixels");
        if (p == "ScreenSize") return Array::row(std::vector<double>{1, 1, static_cast<double>(s.width()), static_cast<double>(s.height())});
        if (p == "CurrentFigure") return registry().currentFigure ? Array::scalar(registry().currentFigure) : Array();
        if (p == "ScreenPixelsPerInch") {
            const QScreen* screen = QGuiApplication::primaryScreen();
            return Array::scalar(screen ? screen->logicalDotsPerInch() : 96);
        }
        if (p == "DefaultUicontrolBackgroundColor") {
            const QColor c = QApplication::palette().color(QPalette::Button);
            return Array::row(std::vector<double>{c.redF(), c.greenF(), c.blueF()});
        }
        if (p == "Children") {
            std::vector<Handle> figures;
            for (const auto& [handle, o] : registry().objects)
                if (o->kind == Kind::Figure) figures.push_back(handle);
            return handleList(figures);
        }
        throw Error("There is no " + std::string(p) + " property on the root class.");
    }
    Object& o = object(h);
    if (p == "Type") return Array::string(typeName(o.kind));
    if (p == "Tag") return Array::string(o.tag);
    if (p == "Parent") return Array::scalar(o.parent);
    if (p == "Children") return handleList(o.children);
    if (p == "UserData") return o.userData;
    switch (o.kind) {
        case Kind::Figure: return getFigure(static_cast<FigureObject&>(o), p);
        case Kind::Menu: return getMenu(static_cast<MenuObject&>(o), p);
        case Kind::Axes: return getAxes(static_cast<AxesObject&>(o), p);
        case Kind::Line: return getLine(static_cast<LineObject&>(o), p);
        case Kind::Control: return getControl(static_cast<ControlObject&>(o), p);
        default: unknownProperty(o, p);
    }
}

void set(Handle h, std::string_view p, const Array& v) {
    Object& o = object(h);
    if (p == "Tag") {
        o.tag = textOf(v, p);
        return;
    }
    if (p == "UserData") {
        o.userData = v;
        return;
    }
    switch (o.kind) {
        case Kind::Figure: setFigure(static_cast<FigureObject&>(o), p, v); break;
        case Kind::Menu: setMenu(static_cast<MenuObject&>(o), p, v); break;
        case Kind::Axes: setAxes(static_cast<AxesObject&>(o), p, v); break;
        case Kind::Line: setLine(static_cast<LineObject&>(o), p, v); break;
        case Kind::Control: setControl(static_cast<ControlObject&>(o), p, v); break;
        default: unknownProperty(o, p);
    }
}

void set(Handle h, std::string_view p, std::string_view text) { set(h, p, Array::string(text)); }
void set(Handle h, std::string_view p, std::initializer_list<double> values) {
    set(h, p, Array::row(std::vector<double>(values)));
}

// ---- the object tree ----------------------------------------------------------------------

bool isValid(Handle h) { return h == kRoot || lookup(h) != nullptr; }
Kind kindOf(Handle h) { return h == kRoot ? Kind::Root : object(h).kind; }
Handle parentOf(Handle h) { return object(h).parent; }
std::vector<Handle> childrenOf(Handle h) { return object(h).children; }

Handle figureOf(Handle h) {
    while (h != kRoot) {
        const Object& o = object(h);
        if (o.kind == Kind::Figure) return h;
        h = o.parent;
    }
    return kRoot;
}

Handle findByTag(Handle root, std::string_view tag) {
    const Object& o = object(root);
    if (o.tag == tag) return root;
    for (Handle c : o.children)
        if (const Handle found = findByTag(c, tag)) return found;
    return 0;
}

void deleteObject(Handle h) {
    if (!lookup(h)) invalidHandle(h);
    forget(h);
}

void closeAllFigures() {
    std::vector<Handle> figures;
    for (const auto& [handle, o] : registry().objects)
        if (o->kind == Kind::Figure) figures.push_back(handle);
    for (Handle f : figures) forget(f);
}

Handle gcf() { return registry().currentFigure; }
void setCurrentFigure(Handle f) { registry().currentFigure = as<FigureObject>(f, Kind::Figure, "a figure").handle; }
Handle gcbo() { return registry().callbackObject; }

// ---- callbacks ----------------------------------------------------------------------------

namespace {

Array argumentValue(const CallbackArgument& a, Handle source) {
    if (const auto* text = std::get_if<std::string>(&a)) return Array::string(*text);
    if (const auto* number = std::get_if<double>(&a)) return Array::scalar(*number);
    const Handle figure = figureOf(source);
    switch (std::get<CallbackValue>(a)) {
        case CallbackValue::Empty: return Array();
        case CallbackValue::Gcbo: return Array::scalar(source);
        case CallbackValue::Gcbf:
        case CallbackValue::Gcf: return Array::scalar(figure);
        case CallbackValue::GuidataOfGcbo:
        case CallbackValue::GuidataOfGcbf: return figure ? guidata(figure) : Array();
    }
    return Array();
}

// The figure's picture: to the clipboard ("-dmeta"), the page set-up ("-dsetup"), or the
// printer the user chooses.
void printFigure(Handle figure, const std::string& option) {
    auto& f = as<FigureObject>(figure, Kind::Figure, "a figure");
    if (!f.window) return;
    if (option == "-dmeta") {
        QApplication::clipboard()->setPixmap(f.window->centralWidget()->grab());
        return;
    }
    static QPrinter printer(QPrinter::HighResolution);
    if (option == "-dsetup") {
        QPageSetupDialog setup(&printer, f.window);
        setup.exec();
        return;
    }
    QPrintDialog choose(&printer, f.window);
    if (choose.exec() != QDialog::Accepted) return;
    const QPixmap picture = f.window->centralWidget()->grab();
    QPainter painter(&printer);
    const QRect page = painter.viewport();
    const QSize size = picture.size().scaled(page.size(), Qt::KeepAspectRatio);
    painter.setViewport(page.x(), page.y(), size.width(), size.height());
    painter.setWindow(picture.rect());
    painter.drawPixmap(0, 0, picture);
}

// The host's own commands that callbacks name.
bool runBuiltin(const ParsedCallback& call, Handle source) {
    const Handle figure = figureOf(source);
    if (call.function == "close") {
        Handle target = figure;
        if (!call.arguments.empty()) {
            const Array v = argumentValue(call.arguments[0], source);
            target = v.isScalar() ? v.realAt(0) : 0;
        }
        if (target && isValid(target)) deleteObject(target);
        return true;
    }
    if (call.function == "uiresume") {
        Handle target = figure;
        if (!call.arguments.empty()) {
            const Array v = argumentValue(call.arguments[0], source);
            target = v.isScalar() ? v.realAt(0) : 0;
        }
        if (target && isValid(target) && kindOf(target) == Kind::Figure) uiresume(target);
        return true;
    }
    if (call.function == "zoom") {
        if (figure && (call.words.empty() || call.words[0] == "out")) zoomOut(figure);
        return true;
    }
    if (call.function == "print") {
        if (figure) printFigure(figure, call.words.empty() ? std::string() : call.words[0]);
        return true;
    }
    return false;
}

}  // namespace

void invokeCallback(Handle h) {
    const Object* o = lookup(h);
    if (!o) return;
    std::string text;
    if (o->kind == Kind::Menu) text = static_cast<const MenuObject*>(o)->callback;
    if (o->kind == Kind::Control) text = static_cast<const ControlObject*>(o)->callback;
    if (o->kind == Kind::Figure) text = static_cast<const FigureObject*>(o)->closeRequest;
    if (text.empty()) return;
    Registry& r = registry();
    const Handle previous = r.callbackObject;
    r.callbackObject = h;
    if (const Handle f = figureOf(h)) r.currentFigure = f;
    try {
        const ParsedCallback call = parseCallback(text);
        if (!runBuiltin(call, h)) {
            std::vector<Array> args;
            for (const auto& a : call.arguments) args.push_back(argumentValue(a, h));
            for (const auto& w : call.words) args.push_back(Array::string(w));
            callFunction(call.function, 0, args);
        }
    } catch (const std::exception& e) {
        host::warning(e.what());
    }
    r.callbackObject = previous;
}

// ---- modes --------------------------------------------------------------------------------

void setMode(Handle figureHandle, Mode m, bool on) {
    auto& f = as<FigureObject>(figureHandle, Kind::Figure, "a figure");
    if (on)
        f.mode = m;
    else if (f.mode == m)
        f.mode = Mode::None;
    for (Handle c : f.children) {
        Object* o = lookup(c);
        if (!o || o->kind != Kind::Axes) continue;
        auto& a = static_cast<AxesObject&>(*o);
        if (a.plot) {
            const bool zoom = f.mode == Mode::Zoom;
            a.plot->setInteraction(QCP::iRangeZoom, zoom);
            a.plot->setInteraction(QCP::iRangeDrag, false);
            a.plot->setSelectionRectMode(zoom ? QCP::srmZoom : QCP::srmNone);
        }
        if (a.surface)
            if (auto* input = qobject_cast<Q3DInputHandler*>(a.surface->activeInputHandler())) {
                input->setRotationEnabled(f.mode == Mode::Rotate);
                input->setZoomEnabled(f.mode == Mode::Zoom);
            }
    }
}

Mode mode(Handle figureHandle) { return as<FigureObject>(figureHandle, Kind::Figure, "a figure").mode; }

void zoomOut(Handle figureHandle) {
    auto& f = as<FigureObject>(figureHandle, Kind::Figure, "a figure");
    for (Handle c : f.children)
        if (Object* o = lookup(c); o && o->kind == Kind::Axes) {
            auto& a = static_cast<AxesObject&>(*o);
            applyLimits(a);
            if (a.surface) a.surface->scene()->activeCamera()->setCameraPreset(Q3DCamera::CameraPresetIsometricLeft);
            if (a.plot) a.plot->replot();
        }
}

// ---- export -------------------------------------------------------------------------------

void savePng(Handle figureHandle, const std::string& path, int width, int height) {
    auto& f = as<FigureObject>(figureHandle, Kind::Figure, "a figure");
    if (width > 0 && height > 0) {
        f.window->setMinimumSize(0, 0);  // a picture of the size asked for, below a window's least
        f.window->resize(width, height);
    }
    f.window->show();
    layoutAxes(f);
    QCoreApplication::processEvents();
    for (Handle c : f.children)
        if (Object* o = lookup(c); o && o->kind == Kind::Axes)
            if (auto& a = static_cast<AxesObject&>(*o); a.plot) a.plot->replot(QCustomPlot::rpImmediateRefresh);
    QPixmap picture = f.window->centralWidget()->grab();
    // A three-dimensional view lives in its own OpenGL window, which grabbing the widgets
    // does not see: it renders itself into the picture at its place.
    QPainter painter(&picture);
    for (Handle c : f.children)
        if (Object* o = lookup(c); o && o->kind == Kind::Axes)
            if (auto& a = static_cast<AxesObject&>(*o); a.surface && a.container) {
                const QImage view = a.surface->renderToImage(4, a.container->size());
                painter.drawImage(a.container->geometry().topLeft(), view);
            }
    painter.end();
    if (picture.isNull() || !picture.save(QString::fromStdString(path), "PNG"))
        throw Error("Cannot write the picture " + path + ".");
}

QWidget* windowOf(Handle h) { return as<FigureObject>(h, Kind::Figure, "a figure").window; }
QCustomPlot* plotOf(Handle h) { return as<AxesObject>(h, Kind::Axes, "an axes").plot; }
QWidget* view3dOf(Handle h) { return as<AxesObject>(h, Kind::Axes, "an axes").container; }

}  // namespace windows::gui
