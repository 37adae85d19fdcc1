// DisplaySink: whatever shows the render window's picture and title to the
// user. The desktop window implements it with a blit and its caption; the
// command-line renderer with the terminal. The preview and the render session
// talk to it and never to a window directly.
#pragma once

#include <string>

#include "base/dib_image.h"

namespace lumeno {

class DisplaySink {
  public:
    virtual ~DisplaySink() = default;
    // The window title ("640 x  480:  1234 triangles", "path = 1 / 1600").
    virtual void SetTitle(const std::string& title) = 0;
    // The whole bitmap changed: show it at once, 1 : 1.
    virtual void ShowImage(const DibImage& image) = 0;
    // False when nobody looks (a terminal): the session then spends nothing
    // on refreshing the picture while it renders.
    virtual bool Showing() const { return true; }
};

}  // namespace lumeno
