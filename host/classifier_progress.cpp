#include "korva/classifier_progress.h"

ClassifierProgress::~ClassifierProgress() = default;

void ClassifierProgress::SetPosition(int /*position*/, int /*count*/) {}
