#include "ui/qt/render/Families.h"

#include "foundation/Log.h"
#include "ui/Host.h"
#include "ui/Markdown.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/BoxWidget.h"
#include "ui/qt/ShapeWidget.h"
#include "ui/qt/Spinner.h"
#include "ui/qt/SymbolWidget.h"
#include "ui/qt/TextLabel.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace orvel::ui::render {

namespace {

QString htmlOf(const std::vector<TextRun>& runs, const QFont& font, const QColor& link) {
    QString html;
    for (const TextRun& run : runs) {
        QString piece = qs(run.text).toHtmlEscaped().replace('\n', "<br>");
        if (run.code) {
            piece = QStringLiteral(
                        "<span style=\"font-family:'DejaVu Sans Mono',monospace;"
                        "font-size:%1px\">%2</span>")
                        .arg(std::max(1, font.pixelSize()))
                        .arg(piece);
        }
        if (run.bold)
            piece = "<b>" + piece + "</b>";
        if (run.italic)
            piece = "<i>" + piece + "</i>";
        if (!run.link.empty()) {
            piece = QStringLiteral("<a href=\"%1\" style=\"color:%2;text-decoration:none\">%3</a>")
                        .arg(qs(run.link).toHtmlEscaped(), link.name(), piece);
        }
        html += piece;
    }
    return html;
}

// How wide a text runs, in characters of a Latin script: markup is not shown, a character outside
// the basic plane is one, and one of the scripts drawn on a square (Chinese, Japanese, Korean) is
// as wide as two. Qt breaks their lines between characters by their own rules once a label wraps.
bool squareWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

int latinWidth(const QString& text) {
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += squareWide(c) ? 2 : 1;
    return width;
}

bool plainRuns(const std::vector<TextRun>& runs) {
    for (const TextRun& run : runs) {
        if (run.bold || run.italic || run.code || !run.link.empty()) {
            return false;
        }
    }
    return true;
}

void updateLabelText(QLabel* label, const QString& text, const QFont& font, const QColor& color) {
    bool remeasure = false;
    if (label->font() != font) {
        label->setFont(font);
        remeasure = true;
    }
    QPalette pal = label->palette();
    if (pal.color(QPalette::Active, QPalette::WindowText) != color ||
        !(label->palette().resolveMask() & (1ull << QPalette::WindowText))) {
        pal.setColor(QPalette::Active, QPalette::WindowText, color);
        pal.setColor(QPalette::Inactive, QPalette::WindowText, color);
        QColor disabled = color;
        disabled.setAlphaF(disabled.alphaF() * kDisabledTextAlpha);
        pal.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
        label->setPalette(pal);
    }
    if (label->text() != text) {
        label->setText(text);
        remeasure = true;
    }
    if (remeasure)
        remeasureAbove(label);
}

void updateText(RenderCore& core, RenderNode& rn, QLabel* label, const Node& n, const Env& env) {
    std::string raw = shownText(n);
    const QFont font = core.fontOf(env);
    const QColor color = core.foregroundOf(env);
    QString shown;
    Qt::TextFormat format = Qt::PlainText;
    const QColor link = Appearance::foreground(Color::accent(), core.palette());
    const std::string cacheKey = raw + (n.verbatim ? "\x1fv" : "\x1fm") +
                                 (env.uppercase ? "u" : "") + std::to_string(font.pixelSize()) +
                                 "\x1f" + std::to_string(env.lineSpacing);
    // Capitals are the words' own, before any markup: a link's address and an entity keep their
    // case.
    const auto cased = [&env](QString text) { return env.uppercase ? text.toUpper() : text; };
    if (cacheKey == rn.lastRaw && link == rn.lastLink && !rn.lastShown.isNull()) {
        shown = rn.lastShown;
        format = label->textFormat();
    } else if (n.verbatim) {
        shown = cased(qs(raw));
        rn.lastLength = latinWidth(shown);
    } else {
        std::vector<TextRun> runs = parseInlineMarkdown(raw);
        for (TextRun& run : runs)
            run.text = cased(qs(run.text)).toStdString();
        shown = qs(plainText(runs));
        rn.lastLength = latinWidth(shown);
        if (!plainRuns(runs)) {
            shown = htmlOf(runs, font, link);
            format = Qt::RichText;
        }
    }
    if (env.lineSpacing > 0 && !(cacheKey == rn.lastRaw && link == rn.lastLink)) {
        // Only rich text spaces its lines: the text goes in one paragraph of that height.
        if (format == Qt::PlainText)
            shown = shown.toHtmlEscaped().replace('\n', "<br>");
        const double line = QFontMetricsF(font).lineSpacing();
        shown = QStringLiteral("<p style=\"margin:0;line-height:%1%\">%2</p>")
                    .arg(std::lround((line + env.lineSpacing) / line * 100))
                    .arg(shown);
        format = Qt::RichText;
    }
    rn.lastRaw = cacheKey;
    rn.lastLink = link;
    rn.lastShown = shown;
    if (label->textFormat() != format)
        label->setTextFormat(format);
    updateLabelText(label, shown, font, color);
    const bool wraps = env.lineLimit ? *env.lineLimit > 1
                                     : env.wrapsToWidth || rn.lastLength > kWrapAfterCharacters;
    if (label->wordWrap() != wraps) {
        label->setWordWrap(wraps);
        remeasureAbove(label);
    }
    static_cast<TextLabel*>(label)->setTruncates(env.truncates && !wraps);
    const int maxHeight = env.lineLimit && *env.lineLimit > 1
                              ? *env.lineLimit * QFontMetrics(font).lineSpacing() + kLineLimitSlack
                              : QWIDGETSIZE_MAX;
    if (label->maximumHeight() != maxHeight)
        label->setMaximumHeight(maxHeight);
    const Qt::Alignment align = textFlag(env.multiline) | Qt::AlignVCenter;
    if (label->alignment() != align)
        label->setAlignment(align);
    Qt::TextInteractionFlags flags = Qt::LinksAccessibleByMouse;
    if (env.textSelection && !env.inButton)
        flags |= Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;
    if (label->textInteractionFlags() != flags)
        label->setTextInteractionFlags(flags);
}

int progressHeight(ControlSize size) {
    return size == ControlSize::mini    ? kProgressHeightMini
           : size == ControlSize::small ? kProgressHeightSmall
           : size == ControlSize::large ? kProgressHeightLarge
                                        : kProgressHeightRegular;
}

// A known amount shows a bar; an unknown one a spinner.
void updateProgress(RenderNode& rn, const Node& n, const Env& env) {
    auto* layout = static_cast<QVBoxLayout*>(rn.widget->layout());
    QWidget* current = layout->count() > 0 ? layout->itemAt(0)->widget() : nullptr;
    if (n.progress) {
        auto* bar = qobject_cast<QProgressBar*>(current);
        if (bar == nullptr) {
            clearLayout(layout);
            delete current;
            bar = new QProgressBar;
            bar->setRange(0, kProgressSteps);
            bar->setTextVisible(false);
            layout->addWidget(bar);
        }
        const int value =
            static_cast<int>(std::lround(std::clamp(*n.progress, 0.0, 1.0) * kProgressSteps));
        if (bar->value() != value)
            bar->setValue(value);
        bar->setFixedHeight(progressHeight(env.controlSize));
        bar->setMinimumWidth(kProgressMinWidth);
    } else {
        auto* spinner = dynamic_cast<Spinner*>(current);
        if (spinner == nullptr) {
            clearLayout(layout);
            delete current;
            spinner = new Spinner;
            layout->addWidget(spinner);
        }
        spinner->setControlSize(env.controlSize);
    }
}

QWidget* create(RenderCore&, RenderNode& rn, const Node& n, Axis) {
    switch (n.kind) {
        case NodeKind::text: {
            auto* label = new TextLabel;
            // Links go where every other URL the program opens goes, so the simulated machine
            // records them instead of the desktop opening a real mail client.
            QObject::connect(label, &QLabel::linkActivated, label, [](const QString& url) {
                const std::string target = url.toStdString();
                if (auto opened = UiHost::current().openLink(target); !opened) {
                    Logger("ui").error("Could not open " + target + ": " + opened.error().message);
                }
            });
            return label;
        }
        case NodeKind::label: {
            auto* box = new BoxWidget;
            auto* layout = new QHBoxLayout(box);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(kLabelSymbolGap);
            auto* symbol = new SymbolWidget;
            auto* text = new TextLabel;
            layout->addWidget(symbol, 0, Qt::AlignVCenter);
            layout->addWidget(text, 0, Qt::AlignVCenter);
            rn.extras = {symbol, text};
            return box;
        }
        case NodeKind::image:
            return new SymbolWidget;
        case NodeKind::shape:
            return new ShapeWidget;
        case NodeKind::progress: {
            auto* box = new BoxWidget;
            new QVBoxLayout(box);
            box->layout()->setContentsMargins(0, 0, 0, 0);
            return box;
        }
        default:
            return nullptr;
    }
}

void update(RenderCore& core, RenderNode& rn, const Node& n, const Env& env, const Env&, Axis) {
    switch (n.kind) {
        case NodeKind::text:
            updateText(core, rn, static_cast<QLabel*>(rn.widget), n, env);
            break;
        case NodeKind::label: {
            auto* symbol = static_cast<SymbolWidget*>(rn.extras[0]);
            auto* text = static_cast<TextLabel*>(rn.extras[1]);
            // A title that may wrap takes the lines it needs rather than ending in "…".
            if (text->wordWrap() != env.wrapsToWidth)
                text->setWordWrap(env.wrapsToWidth);
            text->setTruncates(env.truncates && !env.wrapsToWidth);
            const QFont font = core.fontOf(env);
            symbol->setSymbol(n.systemImage, core.symbolSide(env), core.foregroundOf(env), 0, 1);
            updateLabelText(text, qs(shownText(n)), font, core.foregroundOf(env));
            break;
        }
        case NodeKind::image: {
            auto* symbol = static_cast<SymbolWidget*>(rn.widget);
            symbol->setSymbol(n.systemImage, core.symbolSide(env), core.foregroundOf(env),
                              n.rotationDegrees, env.opacity);
            symbol->setApplicationIcon(n.iconName, n.iconFile);
            break;
        }
        case NodeKind::shape: {
            const QPalette pal = core.palette();
            static_cast<ShapeWidget*>(rn.widget)->setLook(
                n.shape, n.fill ? Appearance::color(*n.fill, pal) : QColor(),
                n.stroke ? Appearance::color(n.stroke->color, pal) : QColor(),
                n.stroke ? n.stroke->lineWidth : kDefaultStrokeWidth, env.opacity);
            break;
        }
        case NodeKind::progress:
            updateProgress(rn, n, env);
            break;
        default:
            break;
    }
}

}  // namespace

const Family kTextFamily{create, update};

}  // namespace orvel::ui::render
