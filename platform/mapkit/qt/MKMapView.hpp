#pragma once

#include <QImage>
#include <QMarginsF>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/mapkit/qt/MKBaseMap.hpp"
#include "platform/mapkit/qt/MKCalloutView.hpp"
#include "platform/mapkit/qt/MKMapViewOrnaments.hpp"

class QThreadPool;

namespace platform {

class CellCache;
class MKMapWindowWatcher;

// States of the map's own recognisers, with the platform's raw values.
enum class MKGestureState { Possible = 0, Began = 1, Changed = 2, Ended = 3, Cancelled = 4 };

// The map view: draws the model (base map, overlays in their order, the user's location, pins and the
// selected pin's callout) and turns mouse, wheel and keys into its gestures.
//
// Drawing: what is shown is split into world-aligned cells of 256 pixels at the power-of-two draw
// scale nearest the view's zoom scale. The base map and every overlay renderer draw their cells on a
// pool of worker threads into cached images (one pool and one cache, with one memory budget, for all
// map views of the process); a frame only composites cached images (scaled by the
// view's zoom over the draw scale) and, where a cell is not drawn yet, the nearest cached coarser cell
// enlarged, so moving the map never shows an empty grid. setNeedsDisplayInMapRect on a renderer drops
// its cells and asks for one repaint however many calls arrive before the next frame.
//
// Repaints cover what changed, not the view: a cell that arrives or goes out of date repaints its own
// area, an overlay added or removed its bounds, a fix of the user's position the dot's old and new
// places with their halos. A frame that repaints a part of the view composites only the cells and
// markers that reach into it.
class MKMapView : public QWidget, public MKMapViewModel {
    Q_OBJECT
  public:
    explicit MKMapView(QWidget* parent = nullptr);
    ~MKMapView() override;

    // ---- The map's own views, by class name ("MKCompassView", "MKScaleView", "MKAppleLogoImageView",
    // "MKAttributionLabel"); the compass exists only while the map is turned.
    QWidget* findSubview(const QString& className) const;
    // Called when the map adds the compass and before it removes it; subclasses override.
    virtual void didAddSubview(QWidget* subview);
    virtual void willRemoveSubview(QWidget* subview);

    // Whether the map shows its own scale ("MKScaleView"); on by default. A screen with a scale
    // bar of its own turns it off.
    bool showsScale() const { return showsScale_; }
    void setShowsScale(bool shows);
    // How far in from the view's right edge the compass stands, in points, beyond its own margin: a
    // screen whose controls lie over the map's right edge keeps the compass beside them. 0 by default.
    double compassTrailingInset() const { return compassTrailingInset_; }
    void setCompassTrailingInset(double points);
    // A short line above the attribution about the map itself ("MKMapNoticeLabel"), such as tiles
    // that cannot be loaded; empty hides it.
    QString notice() const;
    void setNotice(const QString& text);
    // Where a screen shows credits of its own over the map, in view points (empty: none): the notice
    // stands above them, never over them.
    QRect creditArea() const { return creditArea_; }
    void setCreditArea(const QRect& area);

    // ---- Recognisers of the map itself
    struct LongPressRecognizer {
        double minimumPressDuration = 0.5;  // seconds
        double allowableMovement = 10;      // view points
        // Began, then Changed for every move, then Ended (or Cancelled when Escape takes the press away).
        std::function<void(MKGestureState, QPointF)> action;
    };
    LongPressRecognizer& longPressRecognizer() { return longPress_; }
    // A widget over the map that lets the mouse through (a scale bar, an attribution line): the map
    // still pans and clicks under it, but a press on it is never the map's long press. The map's own
    // scale, logo and attribution are listed from the start; the widget may be a sibling.
    void addLongPressExclusion(QWidget* widget);
    // Began when the pointer enters, Changed as it moves, Ended when it leaves; with the coordinate under
    // it (invalid off the world).
    void setHoverHandler(std::function<void(MKGestureState, QPointF, CLLocationCoordinate2D)> handler) {
        hoverHandler_ = std::move(handler);
    }
    CLLocationCoordinate2D hoverCoordinate() const { return hoverCoordinate_; }

    // ---- Drawing
    // Draws one frame of the map (without child widgets) into `painter`, sized like the view.
    void drawMap(QPainter& painter);
    // Draws frames until every cell they need is cached (tests and benchmarks); false on time-out.
    bool waitForCells(int timeoutMilliseconds = 60000);
    // Drops every cached cell (a cold start).
    void clearCellCache();
    // The marker images this view keeps (its pins per tint, its annotation views' bitmaps): how many,
    // and their pixels' bytes.
    size_t markerImageCount() const { return pinPixmaps_.size() + bitmapPixmaps_.size(); }
    size_t markerImageBytes() const;
    // What the last frame drew (tests).
    struct FrameStats {
        int cellsDrawn = 0;    // cell images composited
        int cellsStandIn = 0;  // of which coarser or finer stand-ins
        int cellsPending = 0;  // cells asked for and not drawn yet
        int annotationsDrawn = 0;
        int annotationsFromLayer = 0;  // of which shown by the kept pixels of an earlier frame
        bool pinLayerMade = false;     // the markers' pixels were kept anew
        // Cells of the view where the map's own drawing shows, and where an overlay that replaces the
        // map's content (a tile layer) drew something over it: what the attribution has to credit.
        int cellsOwnMapShown = 0;
        int cellsReplacedShown = 0;
    };
    FrameStats lastFrameStats() const { return stats_; }
    // Called after every frame drawMap drew (lastFrameStats() holds its figures); subclasses override.
    // It must not paint: changes it makes to other widgets are best queued.
    virtual void frameDidDraw() {}
    // Records the images and target rects of the cells and markers the next frames draw (the
    // benchmarks' floor draws exactly those with a bare QPainter).
    struct DrawnImage {
        QImage image;
        QRectF source;
        QRectF target;
    };
    struct DrawnPixmap {
        QPixmap pixmap;
        QPointF topLeft;
    };
    void setRecordsDrawing(bool records) { recordsDrawing_ = records; }
    const std::vector<DrawnImage>& drawnCells() const { return drawnCells_; }
    const std::vector<DrawnPixmap>& drawnPixmaps() const { return drawnPixmaps_; }

    // The callout of the selected annotation while shown.
    MKCalloutView* calloutView() const { return callout_; }
    // The edges of the view that the screen's own controls cover, in points (none by default): a
    // callout keeps inside the rest (calloutArea()), and when a callout shows for a new selection of a
    // pin in view the map moves, animated, so that it shows whole there.
    QMarginsF calloutInsets() const { return calloutInsets_; }
    void setCalloutInsets(const QMarginsF& insets);
    QRectF calloutArea() const;
    // Where the pin of an annotation view stands (its coordinate), in view points.
    QPointF anchorPointForAnnotation(const MKAnnotation& annotation) const;
    // An image for MKAnnotationView::setImage.
    static std::shared_ptr<MKBitmap> bitmapFromImage(const QImage& image);

    // Tells every overlay's renderer that the map's window came back on screen (its watcher calls
    // this when the window is restored, shown, exposed or activated again).
    void mapWindowDidComeBack();

    // The model's invalidation, from any thread.
    void overlayRendererNeedsDisplay(const MKOverlayRenderer& renderer, const MKMapRect& rect,
                                     MKZoomScale zoomScale) override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    void contentDidChange() override;
    void annotationDidChange(const MKAnnotation& annotation) override;
    void cameraDidChange(const CameraState& from, bool animated) override;
    void overlaysDidChange() override;
    void overlayRendererWillBeRemoved(const std::shared_ptr<MKOverlayRenderer>& renderer) override;
    void compassVisibilityDidChange(bool visible) override;
    void refreshBounds() override;

  private:
    struct Presentation {
        MKMapPoint center;
        double zoomScale = 1;
        double heading = 0;
    };
    Presentation presentation() const;
    QPointF toView(const Presentation& p, MKMapPoint point) const;
    void layoutIfNeeded();
    void placeOrnaments();
    void updateCallout();
    // Where the callout's pointer points for an annotation view whose annotation stands at `anchor`.
    QPointF calloutTip(const MKAnnotationView& view, QPointF anchor) const;
    void revealCallout();
    void requestRepaint();
    void stopAnimation();
    void startInertia(QPointF velocity);
    void inertiaTick();
    void stopInertia(bool endGesture);
    void zoomGesture(double factor, QPointF anchor);
    void scheduleWheelBurstEnd();
    void cancelLongPress();
    void clickAt(QPointF point);
    std::shared_ptr<MKAnnotation> annotationAt(QPointF point) const;
    // Where an annotation's marker (its view's image, the pin, the user's dot) lies, in view points.
    QRectF markerRect(const MKAnnotation& annotation, const MKAnnotationView* view, QPointF anchor) const;
    // Asks the selected annotation's view about a click; true when it took the click.
    bool clickSelectedView(QPointF point);
    const QPixmap& pinPixmap(const Color& tint, qreal ratio);
    const QPixmap& bitmapPixmap(const std::shared_ptr<MKBitmap>& bitmap);
    // `dirty`: the part of the view the frame repaints, view points; null: all of it.
    void drawAnnotations(QPainter& painter, const Presentation& p, const QRectF& dirty);
    // One marker of a frame: its picture and where it goes, in view points and in device pixels.
    struct PinStamp {
        const QPixmap* pixmap;
        QPointF topLeft;
        QPoint device;
        double anchorY;  // the annotation's place, view points: the drawing order
    };
    // Draws `stamps` (in order) through the pin layer; false when the painter is not one whose pixels
    // it can read and place exactly (the caller then draws each stamp).
    bool drawThroughPinLayer(QPainter& painter, const std::vector<PinStamp>& stamps);
    void drawUserLocation(QPainter& painter, const Presentation& p, const QRectF& dirty);
    // The user's dot as drawUserLocation draws it: where, with what halo, or not at all.
    struct UserDot {
        bool drawn = false;
        QPointF at;
        double halo = 0;  // the accuracy halo's radius in view points; 0: no halo
    };
    UserDot userDot(const Presentation& p) const;
    // What drawUserLocation can touch for `dot`, in view points; empty when it draws nothing.
    static QRectF userDotArea(const UserDot& dot);
    // The view's area where `rect` shows (of the copies a world to either side, the one nearest the
    // middle), `margin` points more around; the whole view for a null rect, or where more than one
    // copy of a place can show.
    QRect viewRectForMapRect(const Presentation& p, const MKMapRect& rect, double margin) const;
    // Repaints the view's areas of `rects`, `margin` points more around each.
    void updateMapRects(const std::vector<MKMapRect>& rects, double margin);
    // Repaints `area` of the view so that it shows what a whole frame shows there.
    void repaintArea(const QRegion& area);
    // The cell cache's repaints gathered since the last turn of the event loop.
    void repaintPendingCells();
    void runRecognizers(const std::shared_ptr<MKAnnotation>& annotation);

    // The process's one cell cache and drawing pool, shared with every other map view.
    CellCache* cells_;
    QThreadPool* pool_;
    uint64_t repaintListener_ = 0;

    FrameStats stats_;
    bool recordsDrawing_ = false;
    std::vector<DrawnImage> drawnCells_;
    std::vector<DrawnPixmap> drawnPixmaps_;
    bool layoutNeeded_ = true;
    // The dot the last frame drew: a fix that leaves it within a pixel of it needs no new frame.
    UserDot paintedUserDot_;
    bool userDotPainted_ = false;
    bool paintingWidget_ = false;  // the frame being drawn is the view's own paint event's
    // The cell grid the last frame composited, in view points: scaled cells are blended from the left
    // edge of each row of their target, so a repaint of a part starts its rows there.
    struct FrameGrid {
        bool valid = false;
        MKMapPoint center;
        double zoomScale = 0;
        double heading = 0;
        bool exact = false;
        double cellSide = 0;  // map points
        double originX = 0;   // the view's left edge, map points
    };
    FrameGrid frameGrid_;
    // The overlays (both levels, in drawing order) as the last change left them, with their bounds: a
    // change repaints the bounds of the overlays that came, went or moved in the order.
    std::vector<std::pair<std::weak_ptr<MKOverlay>, MKMapRect>> shownOverlays_;
    // How far past its bounds a renderer removed since then could draw (its stroke), view points.
    double removedStrokeReach_ = 0;

    // Programmatic animation of the shown camera towards the model's.
    bool animating_ = false;
    CameraState animationFrom_;
    double animationProgress_ = 0;  // eased, 0…1
    uint64_t animationToken_ = 0;

    // Mouse
    enum class PressKind { None, Map, Pin };
    struct PressState {
        PressKind kind = PressKind::None;
        QPointF start;
        QPointF last;
        bool panning = false;
        bool dragging = false;
        bool consumed = false;  // Escape took the press away
        std::shared_ptr<MKAnnotation> pin;
        QPointF grabOffset;  // pin anchor minus press point
        bool longPressBegan = false;
        uint64_t longPressToken = 0;
        std::vector<std::pair<double, QPointF>> samples;  // (seconds, position) for inertia
        bool usesTimestamps = false;  // samples timed by the events' own timestamps, not the clock
    } press_;
    uint64_t inertiaToken_ = 0;
    bool inertiaRunning_ = false;
    QPointF inertiaVelocity_;
    double inertiaLast_ = 0;
    bool wheelBurst_ = false;
    uint64_t wheelToken_ = 0;

    // Whether `point` (view coordinates) lies on a child widget or on a visible widget of
    // longPressExclusions_.
    bool liesOnControl(QPointF point) const;

    LongPressRecognizer longPress_;
    std::vector<QPointer<QWidget>> longPressExclusions_;
    // The last press ended as a plain click here, so a double click that follows is the map's.
    bool clickEnded_ = false;
    std::function<void(MKGestureState, QPointF, CLLocationCoordinate2D)> hoverHandler_;
    CLLocationCoordinate2D hoverCoordinate_ = kCLLocationCoordinate2DInvalid;
    bool hovering_ = false;

    // The default pin per tint and pixel ratio (in quarters).
    std::unordered_map<uint64_t, QPixmap> pinPixmaps_;
    // Many markers in view, where drawing each costs more than copying the pixels they span: the last
    // frame's markers and what it drew under them, and once a frame repeated both, the pixels it made
    // of them. A frame with the same markers over the same drawing (also both moved by whole pixels,
    // at an exact scale) shows those pixels again, one image instead of thousands of markers: frames
    // while cells arrive elsewhere, panning by whole pixels. Empty while drawing each costs less.
    struct PinLayer {
        qreal ratio = 0;
        std::vector<std::pair<QPoint, qint64>> stamps;  // device pixels from the origin; picture keys
        std::vector<double> under;                      // what was drawn under them (frameUnder_)
        std::vector<double> scratch;                    // the frame's own, kept for its capacity
        QPoint origin;          // the markers' device pixels' top-left from the origin
        QSize size;             // and their size
        QImage composed;        // null until kept; ratio `ratio`, opaque
        bool shown = false;     // a frame after the one that kept it showed it
        int framesWithout = 0;  // frames to come that draw the markers without keeping their pixels
        int backoff = 1;        // how many, the next time kept pixels are not shown
    };
    // What drawing a marker costs against copying one device pixel: the call, and each of its pixels
    // blended (measured: a pin's call and blend at ratio 1 as much as copying about 4,600 pixels). Kept
    // pixels are shown only where drawing each costs more than kKeptPixelsBias times copying them: at
    // even costs, holding no image wins (at ratio 1 pins spread over 1920×1080 points are drawn each up
    // to about 670).
    static constexpr double kMarkerCallCost = 800;
    static constexpr double kMarkerPixelCost = 4;
    static constexpr double kKeptPixelsBias = 1.5;
    PinLayer pinLayer_;
    std::vector<PinStamp> frameStamps_;
    std::vector<std::pair<const MKAnnotationView*, MKMapPoint>> frameVisited_;
    // What the frame being drawn drew under its markers: the view, its colour and turn, and each cell
    // image and the dot with where they went. Two frames alike in what they drew under the markers'
    // pixels, and in the markers, show the same pixels there.
    struct UnderItem {
        QRectF area;                 // view points, before the view's turn
        std::array<double, 5> what;  // a cell: its image and the part of it drawn; the dot: its place
    };
    std::vector<double> frameUnderView_;
    std::vector<UnderItem> frameUnder_;
    // The frame being drawn filled the whole view with an opaque colour.
    bool viewOpaque_ = false;
    std::unordered_map<const MKBitmap*, std::pair<std::weak_ptr<MKBitmap>, QPixmap>> bitmapPixmaps_;

    MKCompassView* compass_ = nullptr;
    double compassTrailingInset_ = 0;
    MKScaleView* scale_ = nullptr;
    bool showsScale_ = true;
    MKAppleLogoImageView* logo_ = nullptr;
    MKAttributionLabel* legal_ = nullptr;
    MKMapNoticeLabel* notice_ = nullptr;
    QRect creditArea_;
    MKCalloutView* callout_ = nullptr;
    // Shown while the map has the keyboard focus from Tab, Shift+Tab or a shortcut (not from a
    // click, nor when a screen gives the focus back), so a keyboard user sees where the keys go.
    QWidget* focusRing_ = nullptr;
    MKMapWindowWatcher* windowWatcher_ = nullptr;
    QMarginsF calloutInsets_;
    uint64_t revealToken_ = 0;

    // The cell cache's repaints, from any thread, until the main thread's next turn takes them.
    struct PendingRepaint {
        std::mutex mutex;
        bool queued = false;
        bool whole = false;
        std::vector<MKMapRect> rects;
    };
    std::shared_ptr<PendingRepaint> pendingRepaint_ = std::make_shared<PendingRepaint>();
};

}  // namespace platform
