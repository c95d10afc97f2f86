#ifndef KORVA_EXPORT_H_
#define KORVA_EXPORT_H_

// Symbol visibility: every library is built with hidden visibility, and these
// mark what each one exports. One macro per library, the same attribute.
#define KORVA_HOST_API __attribute__((visibility("default")))
#define KORVA_HOSTKIT_API __attribute__((visibility("default")))
#define KORVA_MODULE_API __attribute__((visibility("default")))

#endif  // KORVA_EXPORT_H_
