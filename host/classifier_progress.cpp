#include "host/classifier_progress.h"

ClassifierProgress::~ClassifierProgress() = default;

void ClassifierProgress::SetPosition(int /*position*/, int /*count*/) {}
