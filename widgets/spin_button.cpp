#include "widgets/spin_button.h"

#include "base/numbers.h"
#include "widgets/builtin_bitmaps.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>

#include <algorithm>
#include <map>
#include <string>

namespace glowstep {

namespace {

std::unique_ptr<TSpinButtonBitmapsManager>& ManagerSlot() {
  static std::unique_ptr<TSpinButtonBitmapsManager> manager;
  return manager;
}

int ManagerClients = 0;

int RoundHalf(double value) {
  return static_cast<int>(RoundHalfEven(static_cast<Extended>(value)));
}

// The colours of the classic look, taken from the widget's palette.
struct TClassicColours {
  QColor Face, Highlight, Light, Shadow, DarkShadow, Frame;
  explicit TClassicColours(const QPalette& palette, QPalette::ColorGroup group = QPalette::Active)
      : Face(palette.color(group, QPalette::Button)),
        Highlight(palette.color(group, QPalette::Light)),
        Light(palette.color(group, QPalette::Midlight)),
        Shadow(palette.color(group, QPalette::Dark)),
        DarkShadow(palette.color(group, QPalette::Shadow)),
        Frame(palette.color(group, QPalette::WindowText)) {}
};

void Plot(QImage& image, int x, int y, const QColor& colour, const QRect& clip) {
  if (clip.contains(x, y)) image.setPixelColor(x, y, colour);
}

// A one-pixel line that leaves out its end point, stepping one pixel along the longer axis at
// a time, so that 45-degree lines hit exactly the pixels of the diagonal.
void Line(QImage& image, QPoint from, QPoint to, const QColor& colour) {
  const QRect clip = image.rect();
  int x = from.x(), y = from.y();
  const int dx = std::abs(to.x() - x), dy = -std::abs(to.y() - y);
  const int sx = x < to.x() ? 1 : -1, sy = y < to.y() ? 1 : -1;
  int error = dx + dy;
  while (x != to.x() || y != to.y()) {
    Plot(image, x, y, colour, clip);
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x += sx;
    }
    if (twice <= dx) {
      error += dx;
      y += sy;
    }
  }
}

void HLine(QImage& image, int x0, int x1, int y, const QColor& colour) {  // [x0, x1)
  for (int x = x0; x < x1; ++x) Plot(image, x, y, colour, image.rect());
}

void VLine(QImage& image, int x, int y0, int y1, const QColor& colour) {  // [y0, y1)
  for (int y = y0; y < y1; ++y) Plot(image, x, y, colour, image.rect());
}

enum TEdgeSides { TopLeft = 1, BottomRight = 2, AllSides = 3 };

// The soft two-pixel 3-D edge. The outer ring is drawn before the inner one and the
// bottom-right sides after the top-left ones, so the corners fall to the darker side of a
// raised edge; the inner lines only stop short of a corner where both of its sides are drawn.
void SoftEdge(QImage& image, const QRect& rect, bool raised, int sides, const TClassicColours& c) {
  const QColor outerTL = raised ? c.Highlight : c.DarkShadow;
  const QColor innerTL = raised ? c.Light : c.Shadow;
  const QColor outerBR = raised ? c.DarkShadow : c.Highlight;
  const QColor innerBR = raised ? c.Shadow : c.Light;
  const int l = rect.left(), t = rect.top(), r = rect.left() + rect.width(),
            b = rect.top() + rect.height();
  const bool tl = (sides & TopLeft) != 0, br = (sides & BottomRight) != 0;
  const int ltPlus = tl ? 1 : 0;  // top and left both drawn
  const int rtPlus = tl && br ? 1 : 0;
  const int lbPlus = rtPlus;
  const int rbPlus = br ? 1 : 0;
  if (tl) {
    HLine(image, l, r, t, outerTL);
    VLine(image, l, t, b, outerTL);
  }
  if (br) {
    HLine(image, l, r, b - 1, outerBR);
    VLine(image, r - 1, t, b, outerBR);
  }
  if (tl) {
    HLine(image, l + ltPlus, r - rtPlus, t + 1, innerTL);
    VLine(image, l + 1, t + ltPlus, b - lbPlus, innerTL);
  }
  if (br) {
    HLine(image, l + lbPlus, r - rbPlus, b - 2, innerBR);
    VLine(image, r - 2, t + rtPlus, b - rbPlus, innerBR);
  }
}

// Paints the glyph's set pixels in one colour, clipped.
void PaintGlyph(QImage& image,
                const QImage& glyph,
                QPoint at,
                const QColor& colour,
                const QRect& clip) {
  for (int y = 0; y < glyph.height(); ++y) {
    for (int x = 0; x < glyph.width(); ++x) {
      if (glyph.pixelColor(x, y).alpha() != 0) Plot(image, at.x() + x, at.y() + y, colour, clip);
    }
  }
}

// The disabled look: the glyph embossed, highlight one pixel right and down, shadow on top.
void PaintDisabledGlyph(QImage& image,
                        const QImage& glyph,
                        QPoint at,
                        const TClassicColours& c,
                        const QRect& clip) {
  PaintGlyph(image, glyph, at + QPoint(1, 1), c.Highlight, clip);
  PaintGlyph(image, glyph, at, c.Shadow, clip);
}

// A two-colour glyph turned into a mask: opaque black where the glyph is, transparent elsewhere.
QImage GlyphMask(const QImage& source) {
  QImage mask(source.size(), QImage::Format_ARGB32);
  mask.fill(Qt::transparent);
  const bool hasAlpha = source.hasAlphaChannel();
  const QColor transparent = source.isNull() ? QColor() : source.pixelColor(0, source.height() - 1);
  for (int y = 0; y < source.height(); ++y) {
    for (int x = 0; x < source.width(); ++x) {
      const QColor pixel = source.pixelColor(x, y);
      const bool set = hasAlpha ? pixel.alpha() >= 128 : pixel != transparent;
      if (set) mask.setPixelColor(x, y, Qt::black);
    }
  }
  return mask;
}

// Where the classic look puts the glyph of one half: centred, clipped to the half, or aligned
// to the outer edge when taller than the half.
QPoint PoleGlyphPosition(int width, int height, QSize glyph, bool top) {
  const int half = height / 2;
  const int x = (width - glyph.width()) / 2;
  if (top) return {x, glyph.height() > half ? 0 : (half - glyph.height()) / 2};
  const int bottomHeight = height - half;
  if (glyph.height() > bottomHeight) return {x, height - glyph.height()};
  return {x, half + (bottomHeight - glyph.height()) / 2};
}

QRect HalfRect(int width, int height, bool top) {
  const int half = height / 2;
  return top ? QRect(0, 0, width, half) : QRect(0, half, width, height - half);
}

QPoint DiagonalUpPosition(int width, int height, QSize glyph, int offset) {
  return {offset + RoundHalf(width / 4.0 - glyph.width() / 2.0),
          offset + RoundHalf(height / 4.0 - glyph.height() / 2.0)};
}

QPoint DiagonalDownPosition(int width, int height, QSize glyph) {
  return {RoundHalf(3.0 * width / 4.0 - glyph.width() / 2.0) - 1,
          RoundHalf(3.0 * height / 4.0 - glyph.height() / 2.0) - 1};
}

// The three lines along the diagonal that separate the two halves.
void DiagonalLines(QImage& image, const QColor& c1, const QColor& c2, const QColor& c3) {
  const int l = 1, t = 1, r = image.width() - 1, b = image.height() - 1;
  Line(image, {l, b - 2}, {r - 1, t - 1}, c1);
  Plot(image, r - 1, t, c2, image.rect());
  Line(image, {r - 1, t}, {l, b - 1}, c2);
  Line(image, {l + 1, b - 1}, {r, t}, c3);
}

enum TThemeState { tsNormal, tsHot, tsPressed, tsDisabled };

// Which background each image takes for its top and its bottom half.
constexpr std::array<std::pair<TThemeState, TThemeState>, siImageCount> kThemePairs = {{
    {tsNormal, tsNormal},      // released
    {tsPressed, tsNormal},     // top pressed
    {tsNormal, tsPressed},     // bottom pressed
    {tsDisabled, tsDisabled},  // disabled
    {tsHot, tsNormal},         // top hot
    {tsNormal, tsHot},         // bottom hot
}};

void InitThemeOption(QStyleOption& option, const QWidget& widget, TThemeState state) {
  option.initFrom(&widget);
  option.state &= ~(QStyle::State_MouseOver | QStyle::State_Sunken | QStyle::State_HasFocus);
  option.state |= QStyle::State_Enabled | QStyle::State_Raised;
  option.palette.setCurrentColorGroup(QPalette::Active);
  switch (state) {
    case tsNormal:
      break;
    case tsHot:
      option.state |= QStyle::State_MouseOver;
      break;
    case tsPressed:
      option.state |= QStyle::State_Sunken;
      option.state &= ~QStyle::State_Raised;
      break;
    case tsDisabled:
      option.state &= ~QStyle::State_Enabled;
      option.palette.setCurrentColorGroup(QPalette::Disabled);
      break;
  }
}

QImage NewImage(int width, int height, const QColor& fill) {
  QImage image(std::max(width, 0), std::max(height, 0), QImage::Format_ARGB32_Premultiplied);
  image.fill(fill);
  return image;
}

}  // namespace

const QImage& SpinGlyph(const char* name) {
  static std::map<std::string, QImage> glyphs;
  auto it = glyphs.find(name);
  if (it == glyphs.end()) {
    const QImage loaded = LoadBuiltinBitmap(name);
    QImage mask(loaded.size(), QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    for (int y = 0; y < loaded.height(); ++y) {
      for (int x = 0; x < loaded.width(); ++x) {
        if (qGray(loaded.pixel(x, y)) < 128) mask.setPixelColor(x, y, Qt::black);
      }
    }
    it = glyphs.emplace(name, mask).first;
  }
  return it->second;
}

// --- TSpinButtonBitmaps -----------------------------------------------------------------------

TSpinButtonBitmaps::TSpinButtonBitmaps(TSpinButtonBitmapsManager& manager, const TKey& key)
    : Manager_(manager), Key_(key) {}

void TSpinButtonBitmaps::Release() {
  if (--RefCount_ <= 0) Manager_.Remove(this);  // destroys this set
}

void TSpinButtonBitmaps::Draw(const QWidget& widget, bool themed) {
  Themed_ = themed;
  ResetOnDraw_ = false;
  if (themed) {
    DrawThemed(widget);
  } else {
    DrawClassic(widget.palette());
  }
}

void TSpinButtonBitmaps::DrawClassic(const QPalette& palette) {
  const int w = Key_.Width, h = Key_.Height;
  const TClassicColours c(palette);
  for (auto& image : Images_) image = NewImage(w, h, c.Face);
  // The hot looks exist only with the style's own look; keep them equal to the released one.
  if (Key_.Style == TSpinButton::sbsDefault) {
    const QImage& up = SpinGlyph("SpinUP");
    const QImage& down = SpinGlyph("SpinDOWN");
    struct TLook {
      TSpinButtonImage Image = siReleased;
      bool TopRaised = true, BottomRaised = true;
      QColor C1, C2, C3;
    };
    const TLook looks[] = {
        {siReleased, true, true, c.Shadow, c.DarkShadow, c.Highlight},
        {siTopPressed, false, true, c.Face, c.Highlight, c.Highlight},
        {siBottomPressed, true, false, c.Shadow, c.Shadow, c.Frame},
        {siDisabled, true, true, c.Shadow, c.DarkShadow, c.Highlight},
    };
    for (const TLook& look : looks) {
      QImage& image = Images_[look.Image];
      SoftEdge(image, image.rect(), look.TopRaised, TopLeft, c);
      SoftEdge(image, image.rect(), look.BottomRaised, BottomRight, c);
      DiagonalLines(image, look.C1, look.C2, look.C3);
      if (Key_.CustomGlyphs) continue;
      const QPoint upAt = DiagonalUpPosition(w, h, up.size(), look.Image == siTopPressed ? 2 : 1);
      const QPoint downAt = DiagonalDownPosition(w, h, down.size());
      if (look.Image == siDisabled) {
        PaintDisabledGlyph(image, up, upAt, c, image.rect());
        PaintDisabledGlyph(image, down, downAt, c, image.rect());
      } else {
        PaintGlyph(image, up, upAt, Qt::black, image.rect());
        PaintGlyph(image, down, downAt, Qt::black, image.rect());
      }
    }
  } else {
    const QImage& up = SpinGlyph("SpinUPPOLE");
    const QImage& down = SpinGlyph("SpinDOWNPOLE");
    for (TSpinButtonImage which : {siReleased, siTopPressed, siBottomPressed, siDisabled}) {
      QImage& image = Images_[which];
      const bool topPressed = which == siTopPressed;
      // The bottom half goes first; the top half, one pixel taller unless it is pressed, then
      // lays its lower edge over the seam.
      SoftEdge(image, HalfRect(w, h, false), which != siBottomPressed, AllSides, c);
      QRect top = HalfRect(w, h, true);
      if (!topPressed) top.setHeight(top.height() + 1);
      SoftEdge(image, top, !topPressed, AllSides, c);
      if (Key_.CustomGlyphs) continue;
      for (bool isTop : {true, false}) {
        const QImage& glyph = isTop ? up : down;
        const QPoint at = PoleGlyphPosition(w, h, glyph.size(), isTop);
        const QRect clip = HalfRect(w, h, isTop);
        if (which == siDisabled) {
          PaintDisabledGlyph(image, glyph, at, c, clip);
        } else {
          PaintGlyph(image, glyph, at, Qt::black, clip);
        }
      }
    }
  }
  Images_[siTopHot] = Images_[siReleased];
  Images_[siBottomHot] = Images_[siReleased];
}

void TSpinButtonBitmaps::DrawThemed(const QWidget& widget) {
  const int w = Key_.Width, h = Key_.Height;
  QStyle* style = widget.style();
  const QColor face = widget.palette().color(QPalette::Button);
  if (Key_.Style == TSpinButton::sbsDefault) {
    // One push-button background per state over the rectangle grown by a pixel, so that the
    // button's own rim lies just outside the image.
    std::array<QImage, 4> backgrounds;
    for (int state = tsNormal; state <= tsDisabled; ++state) {
      QImage& background = backgrounds[static_cast<std::size_t>(state)];
      background = NewImage(w, h, face);
      QPainter painter(&background);
      QStyleOptionButton option;
      InitThemeOption(option, widget, static_cast<TThemeState>(state));
      option.rect = QRect(-1, -1, w + 2, h + 2);
      style->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, &widget);
    }
    // The cut runs from the grown rectangle's bottom-left to its top-right corner.
    const double ax = -1, ay = h + 1, bx = w + 1, by = -1;
    const QPalette& palette = widget.palette();
    const QImage& up = SpinGlyph("SpinUP");
    const QImage& down = SpinGlyph("SpinDOWN");
    const TClassicColours disabledColours(palette, QPalette::Disabled);
    for (std::size_t i = 0; i < Images_.size(); ++i) {
      const auto [topState, bottomState] = kThemePairs[i];
      QImage& image = Images_[i];
      image = NewImage(w, h, face);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const double cross = (bx - ax) * (y + 0.5 - ay) - (by - ay) * (x + 0.5 - ax);
          const TThemeState state = cross < 0 ? topState : bottomState;
          image.setPixel(x, y, backgrounds[static_cast<std::size_t>(state)].pixel(x, y));
        }
      }
      DiagonalLines(image, palette.color(QPalette::Light), palette.color(QPalette::Dark),
                    palette.color(QPalette::Mid));
      if (Key_.CustomGlyphs) continue;
      const QPoint upAt = DiagonalUpPosition(w, h, up.size(), 1);
      const QPoint downAt = DiagonalDownPosition(w, h, down.size());
      if (i == siDisabled) {
        PaintDisabledGlyph(image, up, upAt, disabledColours, image.rect());
        PaintDisabledGlyph(image, down, downAt, disabledColours, image.rect());
      } else {
        const QColor text = palette.color(QPalette::ButtonText);
        PaintGlyph(image, up, upAt, text, image.rect());
        PaintGlyph(image, down, downAt, text, image.rect());
      }
    }
  } else {
    // The style's spin-box arrows over its push-button panels, one per half.
    for (std::size_t i = 0; i < Images_.size(); ++i) {
      QImage& image = Images_[i];
      image = NewImage(w, h, face);
      QPainter painter(&image);
      for (bool isTop : {true, false}) {
        const TThemeState state = isTop ? kThemePairs[i].first : kThemePairs[i].second;
        const QRect half = HalfRect(w, h, isTop);
        painter.save();
        painter.setClipRect(half);
        QStyleOptionButton panel;
        InitThemeOption(panel, widget, state);
        panel.rect = half.adjusted(-1, -1, 1, 1);
        style->drawPrimitive(QStyle::PE_PanelButtonCommand, &panel, &painter, &widget);
        QStyleOption arrow;
        InitThemeOption(arrow, widget, state);
        arrow.rect = half;
        style->drawPrimitive(isTop ? QStyle::PE_IndicatorSpinUp : QStyle::PE_IndicatorSpinDown,
                             &arrow, &painter, &widget);
        painter.restore();
      }
    }
  }
}

// --- TSpinButtonBitmapsManager ----------------------------------------------------------------

TSpinButtonBitmapsManager* TSpinButtonBitmapsManager::Instance() { return ManagerSlot().get(); }

void TSpinButtonBitmapsManager::RegisterClient() {
  if (!ManagerSlot()) ManagerSlot() = std::make_unique<TSpinButtonBitmapsManager>();
  ManagerSlot()->Clients_ = ++ManagerClients;
}

void TSpinButtonBitmapsManager::UnregisterClient() {
  if (!ManagerSlot()) return;
  ManagerSlot()->Clients_ = --ManagerClients;
  if (ManagerClients <= 0) {
    ManagerClients = 0;
    ManagerSlot().reset();  // frees any sets still listed
  }
}

TSpinButtonBitmaps& TSpinButtonBitmapsManager::Find(const TSpinButtonBitmaps::TKey& key,
                                                    const QWidget& widget,
                                                    bool themed) {
  auto it = std::lower_bound(Sets_.begin(), Sets_.end(), key,
                             [](const auto& set, const auto& k) { return set->Key() < k; });
  if (it != Sets_.end() && (*it)->Key() == key) return **it;
  auto set = std::make_unique<TSpinButtonBitmaps>(*this, key);
  set->Draw(widget, themed);
  return **Sets_.insert(it, std::move(set));
}

void TSpinButtonBitmapsManager::Remove(const TSpinButtonBitmaps* set) {
  std::erase_if(Sets_, [set](const auto& held) { return held.get() == set; });
}

// --- TSpinButton ------------------------------------------------------------------------------

TSpinButton::TSpinButton(QWidget* parent) : QWidget(parent) {
  resize(20, 20);
  setMouseTracking(true);  // the hot half follows the pointer without a button held
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
  TSpinButtonBitmapsManager::RegisterClient();
}

TSpinButton::~TSpinButton() {
  ReleaseBitmaps();
  TSpinButtonBitmapsManager::UnregisterClient();
}

void TSpinButton::SetButtonStyle(TSpinButtonStyle style) {
  if (style == ButtonStyle_) return;
  ButtonStyle_ = style;
  GlyphsChanged();
}

void TSpinButton::SetUpGlyph(const QPixmap& glyph) {
  UpGlyph_ = glyph;
  GlyphsChanged();
}

void TSpinButton::SetDownGlyph(const QPixmap& glyph) {
  DownGlyph_ = glyph;
  GlyphsChanged();
}

void TSpinButton::GlyphsChanged() {
  ReleaseBitmaps();
  update();
}

bool TSpinButton::InBottomHalf(int x, int y) const {
  const int w = width(), h = height();
  if (ButtonStyle_ == sbsClassic) return y > h / 2;
  if (w <= 0) return false;
  return y > h - (static_cast<double>(h) / w) * x;
}

bool TSpinButton::VisualStyles() const {
  return style()->name().compare(QLatin1String("windows"), Qt::CaseInsensitive) != 0;
}

TSpinButtonImage TSpinButton::CurrentImage() const {
  if (!isEnabled()) return siDisabled;
  if (PressedHalf_ == THalf::Top) return siTopPressed;
  if (PressedHalf_ == THalf::Bottom) return siBottomPressed;
  if (VisualStyles()) {
    if (HotTop_) return siTopHot;
    if (HotBottom_) return siBottomHot;
  }
  return siReleased;
}

void TSpinButton::FetchBitmaps() {
  const std::string look = style()->name().toLower().toStdString();
  if (Bitmaps_ && (Bitmaps_->Width() != width() || Bitmaps_->Height() != height() ||
                   Bitmaps_->Look() != look)) {
    ReleaseBitmaps();
  }
  if (!Bitmaps_) {
    const TSpinButtonBitmaps::TKey key{width(), height(), ButtonStyle_,
                                       !UpGlyph_.isNull() || !DownGlyph_.isNull(), look};
    Bitmaps_ = &TSpinButtonBitmapsManager::Instance()->Find(key, *this, VisualStyles());
    Bitmaps_->Acquire();
  }
  if (Bitmaps_->ResetOnDraw()) Bitmaps_->Draw(*this, Bitmaps_->Themed());
}

void TSpinButton::ReleaseBitmaps() {
  if (!Bitmaps_) return;
  TSpinButtonBitmaps* held = Bitmaps_;
  Bitmaps_ = nullptr;
  held->Release();
}

void TSpinButton::paintEvent(QPaintEvent*) {
  FetchBitmaps();
  if (!isEnabled()) Dragging_ = false;
  const TSpinButtonImage image = CurrentImage();
  QPainter painter(this);
  painter.drawImage(0, 0, Bitmaps_->Image(image));
  DrawOwnGlyphs(painter, image);
}

void TSpinButton::DrawOwnGlyphs(QPainter& painter, TSpinButtonImage image) const {
  if (UpGlyph_.isNull() && DownGlyph_.isNull()) return;
  const bool themed = Bitmaps_->Themed();
  if (themed && ButtonStyle_ == sbsClassic) return;  // the style's parts carry their arrows
  // Drawn through an image so the clipping and the disabled look match the built-in glyphs.
  QImage layer(size(), QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  const TClassicColours colours(palette(), isEnabled() ? QPalette::Active : QPalette::Disabled);
  for (bool isTop : {true, false}) {
    const QPixmap& pixmap = isTop ? UpGlyph_ : DownGlyph_;
    if (pixmap.isNull()) continue;
    const QImage source = pixmap.toImage();
    const QImage mask = GlyphMask(source);
    QPoint at;
    QRect clip = rect();
    if (ButtonStyle_ == sbsClassic) {
      at = PoleGlyphPosition(width(), height(), source.size(), isTop);
      clip = HalfRect(width(), height(), isTop);
    } else if (isTop) {
      at = DiagonalUpPosition(width(), height(), source.size(),
                              !themed && image == siTopPressed ? 2 : 1);
    } else {
      at = DiagonalDownPosition(width(), height(), source.size());
    }
    if (image == siDisabled) {
      PaintDisabledGlyph(layer, mask, at, colours, clip);
      continue;
    }
    for (int y = 0; y < source.height(); ++y) {
      for (int x = 0; x < source.width(); ++x) {
        if (mask.pixelColor(x, y).alpha() != 0) {
          Plot(layer, at.x() + x, at.y() + y, source.pixelColor(x, y), clip);
        }
      }
    }
  }
  painter.drawImage(0, 0, layer);
}

bool TSpinButton::Inside(QPoint point) const {
  return point.x() >= 0 && point.x() <= width() && point.y() >= 0 && point.y() <= height();
}

void TSpinButton::SetPressedHalf(THalf half) {
  if (half == PressedHalf_) return;
  PressedHalf_ = half;
  update();
}

void TSpinButton::Click() {
  const QPointer<TSpinButton> self(this);
  if (PressedHalf_ == THalf::Bottom) {
    emit OnBottomClick(this);
  } else if (PressedHalf_ == THalf::Top) {
    emit OnTopClick(this);
  }
  if (!self) return;
  // A handler may run a nested loop during which the button came up.
  if (!MouseHeld_) PressedHalf_ = THalf::None;
}

void TSpinButton::mousePressEvent(QMouseEvent* event) {
  QWidget::mousePressEvent(event);
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  event->accept();
  const QPointer<TSpinButton> self(this);
  MouseHeld_ = true;
  QWidget* focus = FocusControl_;
  if (focus && (focus->focusPolicy() & Qt::TabFocus) && focus->isEnabled() && focus->isVisible() &&
      !focus->hasFocus()) {
    focus->setFocus(Qt::MouseFocusReason);
    if (!self) return;
  }
  if (PressedHalf_ == THalf::None) {
    LastPressedHalf_ = THalf::None;
    const QPoint at = event->position().toPoint();
    PressedHalf_ = InBottomHalf(at.x(), at.y()) ? THalf::Bottom : THalf::Top;
    Click();
    if (!self) return;
    if (PressedHalf_ != LastPressedHalf_) {
      LastPressedHalf_ = PressedHalf_;
      update();
    }
    if (!RepeatTimer_) {
      RepeatTimer_ = new QTimer(this);
      connect(RepeatTimer_, &QTimer::timeout, this, &TSpinButton::RepeatTick);
    }
    RepeatTimer_->setInterval(InitRepeatPause_);
    RepeatTimer_->start();
  }
  Dragging_ = true;
}

void TSpinButton::EndPress() {
  MouseHeld_ = false;
  Dragging_ = false;
  if (RepeatTimer_) RepeatTimer_->stop();
  LastPressedHalf_ = THalf::None;
  SetPressedHalf(THalf::None);
}

void TSpinButton::RepeatTick() {
  RepeatTimer_->setInterval(RepeatPause_);
  if (PressedHalf_ == THalf::None || !MouseHeld_) return;
  try {
    Click();
  } catch (...) {
    RepeatTimer_->stop();
    throw;
  }
}

void TSpinButton::mouseMoveEvent(QMouseEvent* event) {
  QWidget::mouseMoveEvent(event);
  const QPoint at = event->position().toPoint();
  if (Dragging_) {
    if (!Inside(at)) {
      SetPressedHalf(THalf::None);
    } else if (InBottomHalf(at.x(), at.y())) {
      if (PressedHalf_ != THalf::Bottom) {
        SetPressedHalf(LastPressedHalf_ == THalf::Bottom ? THalf::Bottom : THalf::None);
      }
    } else if (PressedHalf_ != THalf::Top) {
      SetPressedHalf(LastPressedHalf_ == THalf::Top ? THalf::Top : THalf::None);
    }
  } else if (VisualStyles() && (HotTop_ || HotBottom_)) {
    const bool bottom = InBottomHalf(at.x(), at.y());
    SetHot(!bottom, bottom);
  }
}

void TSpinButton::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton) return;
  MouseHeld_ = false;
  // Nothing repeats without a held button; the next press starts the timer again.
  if (RepeatTimer_) RepeatTimer_->stop();
  if (!Dragging_) return;
  Dragging_ = false;
  // Released inside: both halves come up. Released outside without a move reported on the
  // way out: the pressed half comes up all the same, as a move outside would have done.
  if (Inside(event->position().toPoint())) LastPressedHalf_ = THalf::None;
  SetPressedHalf(THalf::None);
}

void TSpinButton::SetHot(bool top, bool bottom) {
  if (top == HotTop_ && bottom == HotBottom_) return;
  HotTop_ = top;
  HotBottom_ = bottom;
  if (VisualStyles()) update();
}

void TSpinButton::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (HotTop_ || HotBottom_) return;
  const QPoint at = event->position().toPoint();
  const bool bottom = InBottomHalf(at.x(), at.y());
  SetHot(!bottom, bottom);
}

void TSpinButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  SetHot(false, false);
}

void TSpinButton::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  EndPress();
}

void TSpinButton::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
    case QEvent::PaletteChange:
      // Colours of the whole system changed: the shared images are redrawn at the next paint.
      if (Bitmaps_) Bitmaps_->SetResetOnDraw(true);
      update();
      break;
    case QEvent::StyleChange:
      // Another look: the next paint takes the image set of that look.
      ReleaseBitmaps();
      update();
      break;
    case QEvent::EnabledChange:
      // A disabled button gets no release: the press ends here.
      if (!isEnabled()) EndPress();
      update();
      break;
    default:
      break;
  }
}

}  // namespace glowstep
