// Draws the program's resources and writes them into the folder given as the only
// argument (normally resources/):
//   default-icon.png  256 x 256, 8-bit palette PNG (the window icon "DEFAULT_ICON")
//   zemlaro.ico       the same PNG wrapped as the single image of a Windows icon
//   wechat-pay.jpg    1242 x 1686 baseline JPEG, 3 components (placeholder payment code)
//   alipay.jpg        600 x 900 baseline JPEG, 3 components (placeholder payment code)
// Each file is checked after writing; any mismatch fails the run.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QString>
#include <QStringLiteral>
#include <QtEndian>
#include <cstdio>

namespace {

QImage DrawIcon() {
  QImage image(256, 256, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath tile;
  tile.addRoundedRect(QRectF(8, 8, 240, 240), 44, 44);
  painter.fillPath(tile, QColor(0xFF, 0x50, 0x00));
  // A magnifying glass over a list: search, then narrow down.
  painter.setPen(QPen(Qt::white, 10, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 3; ++i) painter.drawLine(44, 70 + i * 32, 84, 70 + i * 32);
  painter.setPen(QPen(Qt::white, 18, Qt::SolidLine, Qt::RoundCap));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QPointF(150, 126), 52, 52);
  painter.drawLine(QPointF(188, 164), QPointF(218, 200));
  painter.end();
  return image;
}

// Reduces the drawing to at most 256 colours by rounding the channels more coarsely
// until few enough distinct values are left, then builds the palette image.
QImage ToPalette(const QImage& argb) {
  for (int step = 1; step <= 64; step *= 2) {
    auto quantise = [step](int v) { return std::min(255, (v + step / 2) / step * step); };
    QHash<QRgb, int> indexOf;
    QVector<QRgb> table;
    QImage indexed(argb.size(), QImage::Format_Indexed8);
    bool fits = true;
    for (int y = 0; y < argb.height() && fits; ++y) {
      uchar* line = indexed.scanLine(y);
      for (int x = 0; x < argb.width(); ++x) {
        const QRgb p = argb.pixel(x, y);
        const int a = quantise(qAlpha(p));
        const QRgb q = a == 0
                           ? qRgba(0, 0, 0, 0)
                           : qRgba(quantise(qRed(p)), quantise(qGreen(p)), quantise(qBlue(p)), a);
        auto it = indexOf.find(q);
        if (it == indexOf.end()) {
          if (table.size() == 256) {
            fits = false;
            break;
          }
          it = indexOf.insert(q, static_cast<int>(table.size()));
          table.push_back(q);
        }
        line[x] = static_cast<uchar>(it.value());
      }
    }
    if (fits) {
      indexed.setColorTable(table);
      return indexed;
    }
  }
  return {};
}

// A stand-in for a payment code: a brand-coloured card with a frame of the same
// colour (so its edges are easy to find on screen), a QR-like pattern and a label.
QImage DrawPaymentCard(int width, int height, QColor brand, const QString& title, quint32 seed) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(brand);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const int frame = width / 30;
  const QRect card(frame, frame, width - 2 * frame, height - 2 * frame);
  painter.fillRect(card, Qt::white);

  QFont font(QStringLiteral("Noto Sans CJK SC"));
  font.setPixelSize(width / 14);
  painter.setFont(font);
  painter.setPen(brand);
  painter.drawText(QRect(card.left(), card.top() + height / 20, card.width(), width / 8),
                   Qt::AlignCenter, title);

  const int side = card.width() * 7 / 10;
  const QRect code(card.left() + (card.width() - side) / 2, card.top() + height / 5, side, side);
  const int cells = 29;
  const double cell = double(side) / cells;
  QRandomGenerator random(seed);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x20, 0x20, 0x20));
  for (int row = 0; row < cells; ++row) {
    for (int column = 0; column < cells; ++column) {
      const bool finder = (row < 8 && column < 8) || (row < 8 && column >= cells - 8) ||
                          (row >= cells - 8 && column < 8);
      if (!finder && random.bounded(2) == 1) {
        painter.drawRect(QRectF(code.left() + column * cell, code.top() + row * cell, cell, cell));
      }
    }
  }
  auto finderAt = [&](int row, int column) {
    const QPointF origin(code.left() + column * cell, code.top() + row * cell);
    painter.setBrush(QColor(0x20, 0x20, 0x20));
    painter.drawRect(QRectF(origin, QSizeF(7 * cell, 7 * cell)));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(origin + QPointF(cell, cell), QSizeF(5 * cell, 5 * cell)));
    painter.setBrush(QColor(0x20, 0x20, 0x20));
    painter.drawRect(QRectF(origin + QPointF(2 * cell, 2 * cell), QSizeF(3 * cell, 3 * cell)));
  };
  finderAt(0, 0);
  finderAt(0, cells - 7);
  finderAt(cells - 7, 0);

  font.setPixelSize(width / 24);
  painter.setFont(font);
  painter.setPen(QColor(0x60, 0x60, 0x60));
  painter.drawText(QRect(card.left(), code.bottom() + height / 20, card.width(), height / 10),
                   Qt::AlignCenter, QStringLiteral("示例图片 · Zemlaro"));
  painter.end();
  return image;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray PngBytes(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "png");
  writer.setQuality(0);  // for PNG: the strongest compression
  return writer.write(image) ? bytes : QByteArray();
}

QByteArray JpegBytes(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setQuality(90);
  writer.setProgressiveScanWrite(false);
  writer.setOptimizedWrite(true);
  return writer.write(image) ? bytes : QByteArray();
}

// An .ico with one 256 x 256 entry whose data is the PNG itself.
QByteArray IcoBytes(const QByteArray& png) {
  QByteArray ico(6 + 16, '\0');
  auto put16 = [&ico](int at, quint16 v) { qToLittleEndian(v, ico.data() + at); };
  auto put32 = [&ico](int at, quint32 v) { qToLittleEndian(v, ico.data() + at); };
  put16(2, 1);  // type: icon
  put16(4, 1);  // one image
  // width 0 and height 0 mean 256; no colour count, reserved 0
  put16(6 + 4, 1);  // planes
  put16(6 + 6, 8);  // bits per pixel
  put32(6 + 8, static_cast<quint32>(png.size()));
  put32(6 + 12, 6 + 16);
  return ico + png;
}

// Walks the JPEG markers up to the first start-of-frame.
bool IsBaselineJpeg(const QByteArray& jpeg, int width, int height) {
  const auto* b = reinterpret_cast<const unsigned char*>(jpeg.constData());
  const qsizetype n = jpeg.size();
  if (n < 4 || b[0] != 0xFF || b[1] != 0xD8) return false;
  qsizetype at = 2;
  while (at + 4 <= n && b[at] == 0xFF) {
    const unsigned char marker = b[at + 1];
    const int length = (b[at + 2] << 8) | b[at + 3];
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (marker != 0xC0 || at + 10 > n) return false;
      const int h = (b[at + 5] << 8) | b[at + 6];
      const int w = (b[at + 7] << 8) | b[at + 8];
      return w == width && h == height && b[at + 9] == 3;
    }
    at += 2 + length;
  }
  return false;
}

bool IsPalettePng(const QByteArray& png) {
  // IHDR follows the 8-byte signature: length, "IHDR", width, height, depth, colour type.
  if (png.size() < 8 + 8 + 13 || png.mid(12, 4) != "IHDR") return false;
  const auto* b = reinterpret_cast<const unsigned char*>(png.constData());
  return qFromBigEndian<quint32>(b + 16) == 256 && qFromBigEndian<quint32>(b + 20) == 256 &&
         b[24] == 8 && b[25] == 3;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: zemlaro-make-resources OUTPUT-FOLDER\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));

  const QByteArray png = PngBytes(ToPalette(DrawIcon()));
  if (!IsPalettePng(png)) {
    std::fprintf(stderr, "the icon did not come out as a 256 x 256 8-bit palette PNG\n");
    return 1;
  }
  const QByteArray wechat = JpegBytes(
      DrawPaymentCard(1242, 1686, QColor(0x1A, 0xAD, 0x19), QStringLiteral("微信支付"), 936));
  const QByteArray alipay = JpegBytes(
      DrawPaymentCard(600, 900, QColor(0x16, 0x77, 0xFF), QStringLiteral("支付宝"), 65001));
  if (!IsBaselineJpeg(wechat, 1242, 1686) || !IsBaselineJpeg(alipay, 600, 900)) {
    std::fprintf(stderr, "a payment picture did not come out as a baseline 3-component JPEG\n");
    return 1;
  }
  if (!WriteFile(out.filePath(QStringLiteral("default-icon.png")), png) ||
      !WriteFile(out.filePath(QStringLiteral("zemlaro.ico")), IcoBytes(png)) ||
      !WriteFile(out.filePath(QStringLiteral("wechat-pay.jpg")), wechat) ||
      !WriteFile(out.filePath(QStringLiteral("alipay.jpg")), alipay)) {
    std::fprintf(stderr, "could not write into %s\n", argv[1]);
    return 1;
  }
  std::printf("icon %lld bytes, wechat-pay %lld bytes, alipay %lld bytes\n",
              static_cast<long long>(png.size()), static_cast<long long>(wechat.size()),
              static_cast<long long>(alipay.size()));
  return 0;
}
