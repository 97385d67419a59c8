// The shipped library exports exactly the driver's five operations, and nothing else.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

// The defined global and weak symbols of an ELF64 shared object's dynamic symbol table.
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (file.size() < sizeof(Elf64_Ehdr)) return names;
  const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(file.data());
  if (eh->e_ident[EI_CLASS] != ELFCLASS64) return names;
  const auto* sections = reinterpret_cast<const Elf64_Shdr*>(file.data() + eh->e_shoff);
  for (int i = 0; i < eh->e_shnum; ++i) {
    if (sections[i].sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr& strtab = sections[sections[i].sh_link];
    const auto* symbols = reinterpret_cast<const Elf64_Sym*>(file.data() + sections[i].sh_offset);
    const size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
    for (size_t s = 0; s < count; ++s) {
      const unsigned bind = ELF64_ST_BIND(symbols[s].st_info);
      if (symbols[s].st_shndx == SHN_UNDEF) continue;
      if (bind != STB_GLOBAL && bind != STB_WEAK) continue;
      names.insert(file.data() + strtab.sh_offset + symbols[s].st_name);
    }
  }
  return names;
}

TEST(Exports, ExactlyTheFiveOperations) {
  const auto names = DefinedDynamicSymbols(TALVANE_LIBRARY);
  EXPECT_EQ(names, (std::set<std::string>{"Init_Module", "Order_Module", "Receive_Data",
                                          "Reset_Module", "Send_Data"}));
}

TEST(Exports, LoadsAndBindsByNameWithASoname) {
  void* handle = dlopen(TALVANE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  for (const char* name :
       {"Init_Module", "Reset_Module", "Order_Module", "Send_Data", "Receive_Data"}) {
    EXPECT_NE(dlsym(handle, name), nullptr) << name;
  }
  EXPECT_EQ(dlsym(handle, "_ZN7talvane10InitModuleEjPj"), nullptr);
  dlclose(handle);
  // The SONAME names the major version.
  std::ifstream in(TALVANE_LIBRARY, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(bytes.find("libtalvane.so.1"), std::string::npos);
}

}  // namespace
