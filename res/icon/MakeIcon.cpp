// Draws the Varnel icon (a serial plug and a network node joined by two arrows, one each way) at
// every size the program and a desktop install use, and writes varnel-<size>.png into the folder
// given on the command line.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>

namespace {

// Arrow along y from x0 to x1 (pointing towards x1), in a 32-unit design square.
QPainterPath Arrow(double x0, double x1, double y, double shaft, double head) {
    const double dir = x1 > x0 ? 1.0 : -1.0;
    const double neck = x1 - dir * head;
    QPainterPath p;
    p.moveTo(x0, y - shaft / 2);
    p.lineTo(neck, y - shaft / 2);
    p.lineTo(neck, y - head * 0.8);
    p.lineTo(x1, y);
    p.lineTo(neck, y + head * 0.8);
    p.lineTo(neck, y + shaft / 2);
    p.lineTo(x0, y + shaft / 2);
    p.closeSubpath();
    return p;
}

QImage Draw(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    const bool tiny = size < 24;

    // Tile.
    QLinearGradient bg(0, 0, 0, 32);
    bg.setColorAt(0, QColor(0x2B, 0x6C, 0xB0));
    bg.setColorAt(1, QColor(0x17, 0x3F, 0x6E));
    p.setPen(tiny ? Qt::NoPen : QPen(QColor(0x0E, 0x2A, 0x4A), 0.8));
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 5, 5);

    // Serial plug on the left: a trapezoid shell with two rows of pins.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xE8, 0xEC, 0xF0));
    QPainterPath shell;
    shell.moveTo(4, 9);
    shell.lineTo(10, 9);
    shell.lineTo(9, 23);
    shell.lineTo(5, 23);
    shell.closeSubpath();
    p.drawPath(shell);
    if (!tiny) {
        p.setBrush(QColor(0x17, 0x3F, 0x6E));
        for (int i = 0; i < 4; ++i)
            p.drawEllipse(QPointF(6.0, 11.5 + i * 3.2), 0.8, 0.8);
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QPointF(8.0, 13.1 + i * 3.2), 0.8, 0.8);
    }

    // Network node on the right: a ring with a dot.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xE8, 0xEC, 0xF0), tiny ? 2.4 : 1.8));
    p.drawEllipse(QPointF(25, 16), 3.6, 3.6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xE8, 0xEC, 0xF0));
    p.drawEllipse(QPointF(25, 16), 1.3, 1.3);

    // The two directions: to the server on top, back to the port below.
    p.setBrush(QColor(0xFF, 0xFF, 0xFF));
    p.drawPath(Arrow(11, 21.5, 11, tiny ? 2.6 : 2.0, tiny ? 4.2 : 3.6));
    p.setBrush(QColor(0xFF, 0xB3, 0x2E));
    p.drawPath(Arrow(21.5, 11, 21, tiny ? 2.6 : 2.0, tiny ? 4.2 : 3.6));
    p.end();
    return img;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString path =
            QString("%1/varnel-%2.png").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!Draw(size).save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
