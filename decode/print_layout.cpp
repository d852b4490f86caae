// The printed picture's place on the page and the level decoded for it.
#include "print_layout.h"

#include <math.h>

#include "jpeg2000.h"

namespace {

const double MetresPerInch = 0.0254;

int HasStatedSize(const PrintedPicture* picture)
{
    return picture->pixelsPerMetreX > 0 && picture->pixelsPerMetreY > 0;
}

// The picture's size in inches when the file states it, else its pixels
// (only their ratio counts then).
void MeasurePicture(double* widthOut, double* heightOut, const PrintedPicture* picture)
{
    *widthOut = picture->fullWidth;
    *heightOut = picture->fullHeight;
    if (HasStatedSize(picture)) {
        *widthOut /= picture->pixelsPerMetreX * MetresPerInch;
        *heightOut /= picture->pixelsPerMetreY * MetresPerInch;
    }
}

// Rounded to whole dots, at least one, at most `limit`.
int32_t ToDots(double inches, int32_t dotsPerInch, int32_t limit)
{
    double dots = floor(inches * dotsPerInch + 0.5);
    return dots < 1 ? 1 : dots > limit ? limit : (int32_t)dots;
}

} // namespace

int PlanPrintLayout(PrintLayout* layoutOut, const PrinterPage* page, const PrintedPicture* picture)
{
    *layoutOut = PrintLayout();
    if (page->printableWidth <= 0 || page->printableHeight <= 0 || page->dotsPerInchX <= 0 ||
        page->dotsPerInchY <= 0 || picture->fullWidth == 0 || picture->fullHeight == 0) {
        return 0;
    }
    double width, height;
    MeasurePicture(&width, &height, picture);
    double pageWidth = (double)page->printableWidth / page->dotsPerInchX;
    double pageHeight = (double)page->printableHeight / page->dotsPerInchY;
    layoutOut->atStatedSize = HasStatedSize(picture) && width <= pageWidth && height <= pageHeight;
    double scale = 1.0;
    if (!layoutOut->atStatedSize) {
        scale = pageWidth / width < pageHeight / height ? pageWidth / width : pageHeight / height;
    }
    layoutOut->width = ToDots(width * scale, page->dotsPerInchX, page->printableWidth);
    layoutOut->height = ToDots(height * scale, page->dotsPerInchY, page->printableHeight);
    layoutOut->left = (page->printableWidth - layoutOut->width) / 2;
    layoutOut->top = (page->printableHeight - layoutOut->height) / 2;
    layoutOut->reduce = ChooseViewReduce(picture->fullWidth, picture->fullHeight, (uint32_t)layoutOut->width,
                                         (uint32_t)layoutOut->height, picture->minReduce, picture->maxReduce);
    return 1;
}

int PrintsAcross(const PrintedPicture* picture)
{
    double width, height;
    MeasurePicture(&width, &height, picture);
    return width > height;
}
