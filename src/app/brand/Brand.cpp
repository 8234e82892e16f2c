#include "app/brand/Brand.h"

#include "app/BrandLook.h"

namespace pelk::app {

namespace {

SrgbColor &processTerracotta()
{
    static SrgbColor color = ProcessValues::standard().terracotta;
    return color;
}

} // namespace

Brand::Brand(QObject *parent) : QObject(parent)
{
}

void Brand::setProcessValues(const ProcessValues &values)
{
    processTerracotta() = values.terracotta;
}

QColor Brand::terracotta() const
{
    return brandColor(processTerracotta());
}

QFont Brand::font(qreal size, int weight) const
{
    return pelkFont(size, static_cast<QFont::Weight>(weight));
}

} // namespace pelk::app
