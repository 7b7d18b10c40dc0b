// What the updater's own resources must hold, wherever they are read from: under Windows through the
// resource API (resource_tests.cpp), or natively out of the program file with the publisher's resource
// reader (resource_file_tests.cpp), which proves the shipped i686 program on hosts that cannot run it.
#pragma once

#include <cstddef>

// The wizard template 100 (without agreement) or 101 (with agreement), field by field as the wizard
// expects it. Never reads past size.
void CheckWizardTemplate(int templateId, const unsigned char* data, size_t size);

// The manifest: identity, architecture "X86", administrator rights, no common-controls dependency.
void CheckManifest(const char* text, size_t size);
