#include "about/about_dialog.h"

#include <QApplication>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "about/sys_info.h"
#include "automation/server_hold.h"

namespace oskara::about {

const char* const kDescription =
    "Oskara Collections is published by the Oskara product team.\r\n"
    "\r\n"
    "Developed by the Oskara server engineering group.\r\n"
    "\r\n"
    "Copyright (C) the Oskara authors. All rights reserved.\r\n"
    "Licensed only to holders of an Oskara licence.";

const char* const kDisclaimer =
    "Warning: this program is protected by copyright. Copying it or passing it on, in "
    "whole or in part, without the written permission of its owners is not allowed and "
    "may lead to legal action.";

namespace {

// The one loaded dialog of the process; cleared the moment it unloads, so that
// About() never shows a window that is on its way out.
QPointer<frmAbout>& loadedSlot() {
  static QPointer<frmAbout> slot;
  return slot;
}

QString toQt(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The dialog's picture: a queue of accounts on a badge, drawn here so that
// the program carries no image files.
QPixmap aboutPicture() {
  constexpr int kSize = 64;
  QPixmap picture(kSize, kSize);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);

  QLinearGradient badge(0, 0, 0, kSize);
  badge.setColorAt(0, QColor(0x2a, 0x7f, 0x9e));
  badge.setColorAt(1, QColor(0x14, 0x4a, 0x5e));
  p.setPen(Qt::NoPen);
  p.setBrush(badge);
  p.drawRoundedRect(QRectF(2, 2, kSize - 4, kSize - 4), 12, 12);

  // Three queue rows, each with its bullet, shorter towards the bottom.
  const int widths[] = {30, 24, 16};
  for (int row = 0; row < 3; ++row) {
    const qreal y = 17 + row * 12;
    p.setBrush(QColor(0xf2, 0xa5, 0x3a));
    p.drawEllipse(QPointF(15, y + 3), 3.5, 3.5);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(22, y, widths[row], 6), 3, 3);
  }
  // The check mark of an account that has been called.
  QPainterPath check;
  check.moveTo(38, 46);
  check.lineTo(43, 51);
  check.lineTo(53, 39);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0xf2, 0xa5, 0x3a), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(check);
  return picture;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

std::string versionText(const ProgramVersion& version) {
  return "Version " + std::to_string(version.versionMajor) + "." +
         std::to_string(version.versionMinor) + "." + std::to_string(version.revision);
}

frmAbout::frmAbout(const AboutInfo& info) : hold_(std::make_unique<ServerHold>()) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(toQt(info.caption));

  auto* image = new QLabel(this);
  image->setObjectName(QStringLiteral("Image1"));
  image->setPixmap(aboutPicture());
  image->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  lblTitle = makeLabel(this, "lblTitle", toQt(info.title));
  lblTitle->setFont(QFont(QStringLiteral("Arial"), 12, QFont::Bold));

  lblVersion = makeLabel(this, "lblVersion", QStringLiteral("Version 3.0"));
  QFont versionFont(QStringLiteral("Sans Serif"));
  versionFont.setPointSizeF(9.75);
  lblVersion->setFont(versionFont);

  lblDescription = makeLabel(this, "lblDescription", QString());
  lblDescription->setMinimumWidth(340);

  auto* line = new QFrame(this);
  line->setObjectName(QStringLiteral("Line1"));
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);

  lblDisclaimer = makeLabel(this, "lblDisclaimer", QString::fromUtf8(kDisclaimer));
  lblDisclaimer->setWordWrap(true);
  lblDisclaimer->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  lblDisclaimer->setMinimumWidth(300);

  cmdOK = new QPushButton(QStringLiteral("OK"), this);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setDefault(true);
  cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
  cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
  cmdSysInfo->setAutoDefault(false);
  connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
  connect(cmdSysInfo, &QPushButton::clicked, this, [this] { cmdSysInfo_Click(); });

  // Picture on the left; title, version and description beside it; the line;
  // the disclaimer under it with the buttons on the right.
  auto* texts = new QVBoxLayout;
  texts->addWidget(lblTitle);
  texts->addWidget(lblVersion);
  texts->addSpacing(8);
  texts->addWidget(lblDescription);
  auto* top = new QHBoxLayout;
  top->addWidget(image);
  top->addSpacing(12);
  top->addLayout(texts, 1);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdSysInfo);
  buttons->addStretch();
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(lblDisclaimer, 1);
  bottom->addSpacing(12);
  bottom->addLayout(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(6);
  layout->addWidget(line);
  layout->addSpacing(6);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  Form_Load(info);
}

frmAbout::~frmAbout() = default;

void frmAbout::Form_Load(const AboutInfo& info) {
  lblVersion->setText(toQt(versionText(info.version)));
  lblDescription->setText(QString::fromUtf8(kDescription));
}

void frmAbout::cmdOK_Click() { close(); }

void frmAbout::cmdSysInfo_Click() { StartSysInfo(); }

// Every way out (OK, Escape, the window's close button) ends here: the
// dialog unloads, and the next About loads it anew.
void frmAbout::done(int result) {
  QDialog::done(result);
  if (loadedSlot() == this) loadedSlot() = nullptr;
  hold_.reset();
  deleteLater();
}

frmAbout* loadedAbout() { return loadedSlot().data(); }

int16_t About(const AboutInfo& info) {
  try {
    // Widgets need a QApplication; a server without a display has none.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
    QPointer<frmAbout>& form = loadedSlot();
    if (!form) form = new frmAbout(info);
    form->show();
    form->raise();
    form->activateWindow();
    return -1;
  } catch (...) {
    return 0;
  }
}

}  // namespace oskara::about
