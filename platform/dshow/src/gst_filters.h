#pragma once
// Internal: constructors of the stand-in's objects, for the class registry.
#include "gst_core.h"

namespace dshow::gst {

IUnknown* MakeFilterGraph();
IBaseFilter* MakeFileSource(REFCLSID clsid);
IBaseFilter* MakeSampleGrabber();
IBaseFilter* MakeVideoRenderer();
IBaseFilter* MakeNullRenderer();
IBaseFilter* MakeColourConverter();
IBaseFilter* MakeSmartTee();
IBaseFilter* MakeInfTee();
IBaseFilter* MakeAviMux();
IBaseFilter* MakeFileWriter();
IBaseFilter* MakeEncoder(const std::string& factory, REFCLSID clsid);
IUnknown* MakeCaptureGraphBuilder();
IUnknown* MakeDeviceEnumerator();

}  // namespace dshow::gst
