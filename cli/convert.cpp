// pagewright-convert INPUT OUTPUT
#include <cstdio>

#include "commands.h"

int RunConvert(const TksCliOptions&) {
  std::fputs("pagewright-convert: conversion is not ready yet\n", stderr);
  return 2;
}
