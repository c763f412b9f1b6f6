// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/imageguide.h"

#include "ui_imageguide.h"

#include <QPixmap>

#include <cinttypes>
#include <cstdio>

namespace {

// A null pixmap when the picture is missing, which leaves the image view empty.
QPixmap imageNamed(const QString &name)
{
    return QPixmap(QStringLiteral(":/guide/") + name);
}

} // namespace

// The resources live in a static library; naming their initialiser here links them into every
// program that uses the guide. Registering twice is harmless. Q_INIT_RESOURCE must be called
// from the global namespace.
static void initGuideResources()
{
    Q_INIT_RESOURCE(zaprun);
}

ImageGuide::ImageGuide(QWidget *parent)
    : QWidget(parent)
    , ui_(std::make_unique<Ui::ImageGuide>())
{
    initGuideResources();
    ui_->setupUi(this);
    imView_ = ui_->imView;
}

ImageGuide::~ImageGuide() = default;

void ImageGuide::prevIm()
{
    // Flushed at once: a reader on a pipe sees each step as it happens.
    std::printf("%" PRId64 "\n", static_cast<std::int64_t>(state_));
    std::fflush(stdout);

    QString name;
    switch (state_) {
    case 0:
        name = QStringLiteral("1.png");
        break;
    case 1:
        name = QStringLiteral("2.png");
        break;
    case 2:
        name = QStringLiteral("3.png");
        break;
    default:
        break;
    }
    if (!name.isEmpty() && imView_)
        imView_->setPixmap(imageNamed(name));

    state_ += 1;
    if (state_ == 3)
        state_ = 0;
}
