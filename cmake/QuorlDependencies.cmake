# Every third-party package the tree uses is found once, here.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenCV 4 REQUIRED COMPONENTS core imgproc imgcodecs video calib3d features2d)
find_package(Eigen3 3.4 REQUIRED NO_MODULE)

# cminpack ships a pkg-config file only.
pkg_check_modules(CMINPACK REQUIRED IMPORTED_TARGET cminpack)

find_package(Qt6 COMPONENTS Core Gui Widgets)
find_package(GIF)
find_package(JPEG)
pkg_check_modules(GST IMPORTED_TARGET gstreamer-1.0 gstreamer-app-1.0 gstreamer-video-1.0 gstreamer-pbutils-1.0)
find_package(OpenGL COMPONENTS OpenGL EGL)
find_package(GTest)
find_package(benchmark)
