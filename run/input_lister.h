// d88info's listing of each image of an input, for every front end that
// lists: the text d88info prints, or its JSON document (an archive's
// members in one document), built once per image (ImageListing). Problems
// are told and counted as zefacut tells and counts them.
#ifndef ZEFACUT_RUN_INPUT_LISTER_H
#define ZEFACUT_RUN_INPUT_LISTER_H

#include <string>

#include "input/image_input.h"
#include "run/report.h"

class InputLister : public ImageVisitor {
 public:
  struct Settings {
    // The JSON document on the output instead of the text.
    bool json = false;
    // Every track read for what only the whole file shows (damage past the
    // tracks a listing reads), told as warnings.
    bool wholeFile = true;
  };

  InputLister(RunOutput& output, const Settings& settings);

  void Archive(const std::string& path, const char* format) override;
  void Image(const std::string& name, const std::string& member, DiskImage& image) override;
  void Problem(const InputProblem& problem) override { report_.Problem(problem); }

  // Closes the document of an archive's listings.
  void End();

  // The JSON document, whichever form went to the output.
  std::string Json() const;

  Report& GetReport() { return report_; }
  int Status() const { return report_.Status(); }

 protected:
  // Each image, after its whole-file warnings and before its listing.
  virtual void Listing(const std::string& /*name*/, const std::string& /*member*/,
                       DiskImage& /*image*/) {}

 private:
  void Print(const std::string& line);

  RunOutput& output_;
  Report report_;
  Settings settings_;
  bool archive_ = false;
  bool first_ = true;
  // The JSON of an archive's members so far, or of the one image.
  std::string json_;
  std::string archiveFormat_;
};

#endif  // ZEFACUT_RUN_INPUT_LISTER_H
