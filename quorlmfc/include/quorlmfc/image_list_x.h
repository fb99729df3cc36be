#pragma once
// CImageListX: a grid of image slots (for example one per remote video
// source), each an 8-bit three-channel image shown scaled to the preview
// size with a caption bar under it, selectable with the mouse. Slots are
// filled from raw pixels or from a network data packet.
//
// The grid has a fixed number of positions (as many as fit the window at the
// preview size); slots beyond them are kept but not shown or hit.
#include <opencv2/core/core_c.h>

#include <vector>

#include "gdiplus/bitmap.h"
#include "gdiplus/drawing.h"
#include "gdiplus/graphics.h"
#include "quorlmfc/data_packet.h"
#include "win/controls.h"
#include "win/window.h"

class CImageListX : public CStatic {
 public:
  // Where SetNodeData finds its fields in a packet.
  static constexpr size_t kPacketFirstNumber = 716;
  static constexpr size_t kPacketSecondNumber = 296;
  static constexpr size_t kPacketPixels = 732;

  CImageListX();
  ~CImageListX() override;

  // Takes the client rectangle as the grid's bounds and makes the back
  // buffer and drawing tools; a second call makes them anew.
  void Initialize();
  // A black slot of the slot size; caption null gives "Server <index>".
  void AddImageElement(CString* caption);
  // Every slot becomes black at the new size (the content is not kept).
  // FALSE, and nothing changed, for a size whose rows or image would not fit
  // in an int.
  BOOL SetImageDataSize(UINT width, UINT height);
  void SetImagePreviewSize(UINT width, UINT height);
  void CalculateImagePositions();
  // Redraws every shown slot into the back buffer (nothing before
  // Initialize).
  void PaintBackBuffer();
  // FALSE for an index out of range.
  BOOL IsSelected(int index) const;
  // Copies height x row-step bytes into the slot and draws it on the window.
  // Ignored for an index out of range or null pixels.
  void SetImageData(UINT index, BYTE* pixels);
  // As SetImageData from the packet's pixels, with the caption followed by
  // the packet's two numbers; drawn into the back buffer or onto the window
  // (SetPaintToBackBuffer). A packet too short for the slot's pixels is
  // refused and the slot left unchanged.
  void SetNodeData(UINT index, QuorlMFC::Tarvesh::Network::DataPacket* packet);
  void SetMyParent(CWnd* parent) { m_pParent = parent; }
  void SetPaintToBackBuffer(bool toBackBuffer) { m_bPaintToBackBuffer = toBackBuffer; }

  // Read access, for owners and tests.
  int GetSlotCount() const { return static_cast<int>(m_images.size()); }
  const IplImage* GetImage(int index) const;  // null for a 0 x 0 slot or a bad index
  CString GetCaption(int index) const;
  const std::vector<Gdiplus::RectF>& GetImageRects() const { return m_imageRects; }
  const std::vector<Gdiplus::RectF>& GetCaptionRects() const { return m_captionRects; }
  // 32-bit ARGB, 4 x width per row; null before Initialize.
  const BYTE* GetBackBuffer(int* width, int* height) const;
  CWnd* GetMyParent() const { return m_pParent; }
  bool IsWindowPainted() const { return m_bWindowPainted; }

  Gdiplus::ARGB m_backgroundColour = 0xFF646464;

 protected:
  void OnPaint();
  void OnLButtonDown(UINT flags, CPoint point);
  DECLARE_MESSAGE_MAP()

 private:
  struct Slot {
    IplImage* image = nullptr;
    Gdiplus::Bitmap* bitmap = nullptr;
  };
  static Slot MakeSlot(int width, int height);
  static void FreeSlot(Slot& slot);
  void FreeDrawing();
  // Number of slots shown: no more than the grid has positions.
  size_t ShownSlots() const;
  void CopyPixels(size_t index, const BYTE* pixels);
  // Image, caption bar and caption of a shown slot.
  void DrawSlot(Gdiplus::Graphics& g, size_t index, const CString& caption);
  void ShowBackBuffer();

  BYTE* m_pBackPixels = nullptr;
  Gdiplus::Bitmap* m_pBackBuffer = nullptr;
  int m_nBackWidth = 0;
  int m_nBackHeight = 0;
  Gdiplus::SolidBrush* m_pBackgroundBrush = nullptr;
  RECT m_clientRect{0, 0, 0, 0};
  Gdiplus::RectF m_bounds;
  Gdiplus::Graphics* m_pGraphics = nullptr;
  Gdiplus::Font* m_pFont = nullptr;
  Gdiplus::StringFormat* m_pFormat = nullptr;
  Gdiplus::SolidBrush* m_pCaptionBrush = nullptr;
  Gdiplus::SolidBrush* m_pTextBrush = nullptr;
  Gdiplus::Pen* m_pSelectionPen = nullptr;
  bool m_bInitialized = false;
  bool m_bWindowPainted = false;
  bool m_bPaintToBackBuffer = true;
  int m_nHorizontalMargin = 5;
  int m_nVerticalMargin = 5;
  int m_nImageWidth = 0;
  int m_nImageHeight = 0;
  std::vector<Slot> m_images;
  std::vector<bool> m_selected;
  std::vector<CString> m_captions;
  int m_nPreviewWidth = 0;
  int m_nPreviewHeight = 0;
  std::vector<Gdiplus::RectF> m_imageRects;
  std::vector<Gdiplus::RectF> m_captionRects;
  int m_nCaptionHeight = 15;
  CWnd* m_pParent = nullptr;
};
