#ifndef KORVA_HOSTKIT_H_
#define KORVA_HOSTKIT_H_

// The host kit: what a host program does with a classifier module beyond
// loading it. Link Korva::hostkit.
#include "korva/hostkit/error.h"
#include "korva/hostkit/memory_budget.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/output_file.h"
#include "korva/hostkit/output_stream.h"
#include "korva/hostkit/settings.h"
#include "korva/hostkit/shared_rows.h"
#include "korva/hostkit/trained_model.h"
#include "korva/hostkit/training.h"
#include "korva/hostkit/weight_file.h"

#endif  // KORVA_HOSTKIT_H_
