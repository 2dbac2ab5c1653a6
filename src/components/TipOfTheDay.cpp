#include "components/TipOfTheDay.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>
#include <numbers>

#include "platform/Dialogs.h"

namespace quorvel {

namespace {

constexpr QSize kClientArea(385, 160);

// The tip picture: a light bulb, painted as shapes so that it stays sharp at every
// device pixel ratio.
class TipBulb : public QWidget {
public:
    explicit TipBulb(QWidget* parent) : QWidget(parent) { setFixedSize(48, 48); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal scale = qMin(width(), height()) / 48.0;
        p.scale(scale, scale);

        // Rays
        p.setPen(QPen(QColor(255, 190, 0), 2, Qt::SolidLine, Qt::RoundCap));
        const QPointF centre(24, 18);
        for (int i = 0; i < 7; ++i) {
            const qreal angle = (180 + 30 * i) * std::numbers::pi / 180.0;
            const QPointF dir(std::cos(angle), std::sin(angle));
            p.drawLine(centre + dir * 17, centre + dir * 21);
        }

        // Glass: a round top narrowing into the neck
        QPainterPath glass;
        glass.moveTo(19, 33);
        glass.cubicTo(19, 28, 12, 25, 12, 18);
        glass.arcTo(QRectF(12, 6, 24, 24), 180, -180);
        glass.cubicTo(36, 25, 29, 28, 29, 33);
        glass.closeSubpath();
        QRadialGradient light(QPointF(21, 15), 16);
        light.setColorAt(0, QColor(255, 255, 230));
        light.setColorAt(0.6, QColor(255, 238, 110));
        light.setColorAt(1, QColor(245, 200, 40));
        p.setBrush(light);
        p.setPen(QPen(QColor(150, 110, 0), 1.2));
        p.drawPath(glass);

        // Filament
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(210, 110, 0), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath filament;
        filament.moveTo(21, 32);
        filament.lineTo(21, 22);
        filament.lineTo(22.5, 19);
        filament.lineTo(24, 22);
        filament.lineTo(25.5, 19);
        filament.lineTo(27, 22);
        filament.lineTo(27, 32);
        p.drawPath(filament);

        // Shine
        p.setPen(QPen(QColor(255, 255, 255, 220), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(16, 10, 16, 16), 100 * 16, 60 * 16);

        // Screw base
        QLinearGradient metal(18, 0, 30, 0);
        metal.setColorAt(0, QColor(120, 120, 120));
        metal.setColorAt(0.4, QColor(225, 225, 225));
        metal.setColorAt(1, QColor(110, 110, 110));
        p.setBrush(metal);
        p.setPen(QPen(QColor(80, 80, 80), 1));
        p.drawRoundedRect(QRectF(18.5, 33, 11, 9), 1.5, 1.5);
        p.drawLine(QPointF(18.5, 36), QPointF(29.5, 36));
        p.drawLine(QPointF(18.5, 39), QPointF(29.5, 39));
        p.setBrush(QColor(70, 70, 70));
        p.drawRoundedRect(QRectF(21, 42, 6, 3), 1.5, 1.5);
    }
};

QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TTipOfTheDayForm::TTipOfTheDayForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("TipOfTheDayForm"));
    setWindowTitle(QStringLiteral("Tip of the day..."));

    Image1 = new TipBulb(this);
    Image1->setObjectName(QStringLiteral("Image1"));

    // The tip sits on white in any desktop theme, so its texts are black, not the
    // theme's text colour.
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setAutoFillBackground(true);
    QPalette white = Panel1->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    Panel1->setPalette(white);

    TitleStrip = new QWidget(Panel1);
    TitleStrip->setObjectName(QStringLiteral("TitleStrip"));
    TitleStrip->setAutoFillBackground(true);
    QPalette yellow = white;
    yellow.setColor(QPalette::Window, QColor(255, 255, 128));
    TitleStrip->setPalette(yellow);

    HeaderLabel = new QLabel(QStringLiteral("Did you know..."), TitleStrip);
    HeaderLabel->setObjectName(QStringLiteral("HeaderLabel"));
    HeaderLabel->setTextFormat(Qt::PlainText);
    QFont bold = HeaderLabel->font();
    bold.setBold(true);
    HeaderLabel->setFont(bold);

    TipLabel = new QLabel(Panel1);
    TipLabel->setObjectName(QStringLiteral("TipLabel"));
    TipLabel->setTextFormat(Qt::PlainText);
    TipLabel->setWordWrap(true);
    TipLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    TipLabel->setMargin(6);

    ShowTipsCheck = new QCheckBox(QStringLiteral("&Show tip of the day at startup"), this);
    ShowTipsCheck->setObjectName(QStringLiteral("ShowTipsCheck"));
    ShowTipsCheck->setChecked(true);
    OkBtn = new QPushButton(QStringLiteral("OK"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setDefault(true);
    NextBtn = new QPushButton(QStringLiteral("&Next tip"), this);
    NextBtn->setObjectName(QStringLiteral("NextBtn"));
    HelpBtn = new QPushButton(QStringLiteral("Help"), this);
    HelpBtn->setObjectName(QStringLiteral("HelpBtn"));

    auto* strip = new QHBoxLayout(TitleStrip);
    strip->setContentsMargins(6, 4, 6, 4);
    strip->addWidget(HeaderLabel);
    auto* panel = new QVBoxLayout(Panel1);
    panel->setContentsMargins(2, 2, 2, 2);
    panel->setSpacing(0);
    panel->addWidget(TitleStrip);
    panel->addWidget(TipLabel, 1);
    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addWidget(Panel1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(ShowTipsCheck);
    buttons->addStretch(1);
    buttons->addWidget(HelpBtn);
    buttons->addWidget(NextBtn);
    buttons->addWidget(OkBtn);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(8, 8, 8, 8);
    root->setSpacing(8);
    root->addLayout(top, 1);
    root->addLayout(buttons);

    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(HelpBtn, &QPushButton::clicked, this, [this] { emit helpRequested(HelpContext); });
    fitClientArea();
}

void TTipOfTheDayForm::fitClientArea() {
    layout()->activate();
    const int width = qMax(kClientArea.width(), minimumSizeHint().width());
    int height = qMax(kClientArea.height(), minimumSizeHint().height());
    if (layout()->hasHeightForWidth())
        height = qMax(height, layout()->totalHeightForWidth(width));
    setFixedSize(width, height);
}

void TTipOfTheDayForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QScreen* s = parentWidget() ? parentWidget()->screen() : screen())
        move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

TCustomTipOfTheDay::TCustomTipOfTheDay(QObject* owner, Dialogs& dialogs, RandomSource random)
    : QObject(owner), dialogs_(dialogs), random_(std::move(random)) {
    QObject* o = owner;
    while (o && !o->isWidgetType()) o = o->parent();
    ownerWindow_ = o ? static_cast<QWidget*>(o)->window() : nullptr;
    form_ = new TTipOfTheDayForm(ownerWindow_);
    connect(form_->NextBtn, &QPushButton::clicked, this, [this] { ShowNextTip(); });
    // The start-up hook: the tip opens when the owning window is first shown.
    if (showTipsAtStartup_ && ownerWindow_) ownerWindow_->installEventFilter(this);
}

TCustomTipOfTheDay::~TCustomTipOfTheDay() { delete form_.data(); }

bool TCustomTipOfTheDay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ownerWindow_ && event->type() == QEvent::Show) ownerShown();
    return false;
}

void TCustomTipOfTheDay::ownerShown() {
    ownerWindow_->removeEventFilter(this);
    // Queued, so that the window is up behind the tip when the modal loop starts.
    if (showTipsAtStartup_)
        QMetaObject::invokeMethod(this, [this] { ShowNextTip(); }, Qt::QueuedConnection);
}

void TCustomTipOfTheDay::ShowNextTip() {
    try {
        showTip();
    } catch (const ETipOfTheDay& e) {
        showApology(e.what());
    }
}

void TCustomTipOfTheDay::showTip() {
    TTip& tip = tips_.ChooseNextTip(random_);
    const TTipType* type = tips_.FindType(tip.TipType());
    if (!type) throw ETipOfTheDay("ShowNextTip: Unknown tip type in tip list");
    tip_ = &tip;
    tipType_ = type;
    form_->HeaderLabel->setText(fromUtf8(type->Header));
    form_->TipLabel->setText(fromUtf8(tip.Tip));
    // Only on opening: a click the user made in the open window stays.
    if (!formOpen_) form_->ShowTipsCheck->setChecked(showTipsAtStartup_);
    form_->setWindowTitle(fromUtf8(type->Caption));
    form_->HelpContext = tip.HelpContext;
    if (formOpen_) {
        form_->fitClientArea();
        if (OnNextTip) OnNextTip(*this);
        return;
    }
    if (OnShowForm) OnShowForm(*this, tip.HelpContext);
    showModal();
    showTipsAtStartup_ = form_->ShowTipsCheck->isChecked();
}

void TCustomTipOfTheDay::showApology(const std::string& failure) {
    tip_ = nullptr;
    tipType_ = nullptr;
    form_->HeaderLabel->setText(QString::fromLatin1(kTipErrorHeader));
    form_->setWindowTitle(QString::fromLatin1(kTipErrorCaption));
    form_->HelpContext = 0;
    form_->TipLabel->setText(fromUtf8(tipApologyText(failure)));
    form_->fitClientArea();
    if (!formOpen_) showModal();
}

void TCustomTipOfTheDay::showModal() {
    struct OpenFlag {
        bool& open;
        explicit OpenFlag(bool& o) : open(o) { open = true; }
        ~OpenFlag() { open = false; }
    } flag(formOpen_);
    // Also for the apology: a component without a Help button never shows one.
    form_->HelpBtn->setVisible(showHelpButton_);
    form_->fitClientArea();
    dialogs_.execModal(*form_);
}

TTipOfTheDay* makeProgramTipOfTheDay(QObject* owner, Dialogs& dialogs) {
    auto* tips = new TTipOfTheDay(owner, dialogs);
    tips->setObjectName(QStringLiteral("TipOfTheDay1"));
    tips->setShowHelpButton(false);
    tips->setTips(programTips());
    return tips;
}

}  // namespace quorvel
