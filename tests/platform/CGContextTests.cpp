// Bitmap contexts: what is accepted, where fills land, how alpha and images blend.

#include <gtest/gtest.h>

#include <QImage>

#include "platform/CGContext.h"

namespace {

CGContextRef make(std::size_t w, std::size_t h, CGBitmapInfo info = kCGImageAlphaPremultipliedFirst) {
  return CGBitmapContextCreate(nullptr, w, h, 8, 0, CGColorSpaceCreateWithName(kCGColorSpaceSRGB), info);
}

}  // namespace

TEST(CGContextTest, OnlySupportedRequestsMakeAContext) {
  const auto srgb = CGColorSpaceCreateWithName(kCGColorSpaceSRGB);
  EXPECT_FALSE(CGColorSpaceCreateWithName("kCGColorSpaceGenericGray"));
  EXPECT_TRUE(make(4, 4, kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Little));
  EXPECT_FALSE(make(4, 4, kCGImageAlphaNoneSkipFirst));
  EXPECT_FALSE(make(0, 4));
  EXPECT_FALSE(make(16385, 4));
  EXPECT_FALSE(CGBitmapContextCreate(nullptr, 4, 4, 16, 0, srgb, kCGImageAlphaPremultipliedFirst));
  EXPECT_FALSE(CGBitmapContextCreate(nullptr, 4, 4, 8, 64, srgb, kCGImageAlphaPremultipliedFirst));
  EXPECT_FALSE(CGBitmapContextCreate(nullptr, 4, 4, 8, 0, nullptr, kCGImageAlphaPremultipliedFirst));
  char buffer[64];
  EXPECT_FALSE(CGBitmapContextCreate(buffer, 4, 4, 8, 0, srgb, kCGImageAlphaPremultipliedFirst));
  EXPECT_EQ(CGBitmapContextGetWidth(make(16384, 1)), 16384u);
  EXPECT_EQ(CGBitmapContextGetHeight(nullptr), 0u);
}

TEST(CGContextTest, FillsUseABottomLeftOriginAndBlendWithTheContextAlpha) {
  auto context = make(10, 10);
  EXPECT_EQ(CGBitmapContextCreateImage(context)->pixel(5, 5), 0u);  // starts transparent
  CGContextSetRGBFillColor(context, 1, 0, 0, 1);
  CGContextFillRect(context, CGRect(0, 0, 10, 2));  // the bottom two rows
  auto image = CGBitmapContextCreateImage(context);
  EXPECT_EQ(image->pixel(3, 9), 0xFFFF0000u);
  EXPECT_EQ(image->pixel(3, 7), 0u);

  CGContextSetAlpha(context, 0.5);
  CGContextSetGrayFillColor(context, 1, 1);
  CGContextFillRect(context, CGRect(0, 0, 10, 10));
  image = CGBitmapContextCreateImage(context);
  const std::uint32_t overRed = image->pixel(3, 9), overNothing = image->pixel(3, 2);
  EXPECT_EQ(overRed >> 24, 0xFFu);
  EXPECT_NEAR(static_cast<int>((overRed >> 8) & 0xFF), 128, 2);  // half white over red
  EXPECT_NEAR(static_cast<int>(overNothing >> 24), 128, 2);      // half white over transparent

  // An image taken earlier does not change with later drawing.
  CGContextSetAlpha(context, 1);
  CGContextSetRGBFillColor(context, 0, 0, 1, 1);
  CGContextFillRect(context, CGRect(0, 0, 10, 10));
  EXPECT_EQ(image->pixel(3, 9), overRed);
  EXPECT_EQ(CGBitmapContextCreateImage(context)->pixel(3, 9), 0xFF0000FFu);
  // Taking a picture copies nothing until the context draws again: a display-sized
  // composition let go once taken costs one picture, not two.
  EXPECT_EQ(CGBitmapContextCreateImage(context)->qimage().constBits(),
            CGBitmapContextCreateImage(context)->qimage().constBits());
}

TEST(CGContextTest, ImagesAreScaledIntoTheirRectangle) {
  QImage source(2, 1, QImage::Format_ARGB32);
  source.setPixel(0, 0, 0xFF00FF00);
  source.setPixel(1, 0, 0xFF0000FF);
  auto image = std::make_shared<const CGImage>(source);
  auto context = make(8, 8);
  CGContextSetInterpolationQuality(context, CGInterpolationQuality::none);
  CGContextDrawImage(context, CGRect(0, 4, 8, 4), image);  // the top half
  CGContextDrawImage(context, CGRect(0, 0, 8, 4), nullptr);
  auto out = CGBitmapContextCreateImage(context);
  EXPECT_EQ(out->pixel(1, 1), 0xFF00FF00u);
  EXPECT_EQ(out->pixel(6, 3), 0xFF0000FFu);
  EXPECT_EQ(out->pixel(1, 6), 0u);
}
