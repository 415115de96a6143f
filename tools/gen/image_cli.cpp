#include "gen/image_cli.h"

#include <CLI/CLI.hpp>

#include "gen/allocation_layout.h"
#include "gen/image_cli_args.h"

namespace ravelin::gen {
namespace {

void AddDbOptions(CLI::App* app, DbArgs& a, bool forImage) {
  const std::string prefix = forImage ? "db-" : "";
  app->add_option("--pages", a.pages, "Pages in the database file")
      ->check(CLI::Range(kMinPageCount, kMaxPageCount))
      ->capture_default_str();
  app->add_option("--" + prefix + "seed", a.seed, "Seed of the database's content")
      ->capture_default_str();
  app->add_option("--verify", a.verify, "Page protection: checksum, torn or none")
      ->check(CLI::IsMember({"checksum", "torn", "none"}))
      ->capture_default_str();
  app->add_option("--generation", a.generation,
                  "Update generation (each adds one round of changes to the same seed)")
      ->check(CLI::Range(0, kMaxGenerations))
      ->capture_default_str();
  app->add_option("--file-id", a.fileId, "File id in every page header")
      ->check(CLI::Range(1, 32767))
      ->capture_default_str();
  app->add_option("--name", a.name, "Logical name (the physical name ends in <name>.mdf)")
      ->capture_default_str();
  app->add_option("--physical-path", a.physicalPath, "Physical file name stored on page 32");
}

}  // namespace

int RunMkimage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Writes test data for Ravelin Recover: synthetic SQL Server database files, disk\n"
      "images (raw, FAT32, NTFS, whole disk with an MBR or a GPT) holding one or two deleted\n"
      "databases among decoys, with a JSON manifest of the ground truth, and the built-in\n"
      "sample disk.",
      "ravelin-mkimage"};
  app.require_subcommand(1);
  app.footer(
      "Exit codes: 0 done, 1 a tool or the disk failed, 2 bad input, 3 a needed tool "
      "(mkfs.vfat, mtools, mkntfs, ntfs-3g, sfdisk) is missing.\n"
      "Examples:\n"
      "  ravelin-mkimage db --pages 5000 --seed 7 -o shop.mdf\n"
      "  ravelin-mkimage image --kind raw --cluster 4 --fragments 12 --split-pages 3 "
      "--older-copy -o a.img\n"
      "  ravelin-mkimage image --kind disk --fs ntfs --mdf real.mdf -o disk.img\n"
      "  ravelin-mkimage image --kind raw --cluster 4 --split-pages 3 --split-before-zero 1 "
      "--second-target older --older-after-header -o traps.img\n"
      "  ravelin-mkimage image --kind disk --table gpt --partition-before empty "
      "--partition-before fat32 -o gpt.img\n"
      "  ravelin-mkimage sample demo.img --real-dir testdata/real --write-originals orig/");

  DbArgs dbArgs;
  std::string dbOut;
  CLI::App* db = app.add_subcommand("db", "Write a synthetic database file (.mdf)");
  AddDbOptions(db, dbArgs, false);
  db->add_option("-o,--output", dbOut, "The .mdf to write")->required();

  ImageArgs im;
  DbArgs imDb;
  imDb.generation = 1;  // so that an older generation exists for the decoys
  CLI::App* image = app.add_subcommand("image", "Write a disk image and its manifest");
  image->add_option("--kind", im.kind, "raw, fat32, ntfs or disk")
      ->required()
      ->check(CLI::IsMember({"raw", "fat32", "ntfs", "disk"}));
  image->add_option("-o,--output", im.out, "The image to write")->required();
  image->add_option("--manifest", im.manifest, "The manifest (default: <output>.json)");
  image->add_option("--seed", im.seed, "Seed of the layout and the noise")->capture_default_str();
  image->add_option("--cluster", im.cluster, "Sectors per cluster: 1, 2, 4 ... 128")
      ->capture_default_str();
  image
      ->add_option("--size", im.size,
                   "Image size: sectors, or bytes with K/M/G/T; 0 = as small as fits")
      ->capture_default_str();
  image->add_option("--unreadable", im.unreadable, "Sectors listed as unreadable")
      ->capture_default_str();
  CLI::Option* mdf = image->add_option("--mdf", im.mdf, "Use this .mdf instead of a generated one")
                         ->check(CLI::ExistingFile);
  AddDbOptions(image, imDb, true);
  for (const char* name : {"--pages", "--db-seed", "--verify", "--generation", "--file-id",
                           "--name", "--physical-path"}) {
    image->get_option(name)->excludes(mdf)->group("Generated database");
  }
  const std::string rawGroup = "Raw images (and NTFS: --fragments, --max-gap, --zero-share)";
  image->add_option("--fragments", im.fragments, "Pieces the database is cut into")
      ->group(rawGroup)
      ->capture_default_str();
  image
      ->add_option("--split-pages", im.splitPages,
                   "Pieces that end inside a page (clusters of 2, 4 or 8 sectors)")
      ->group(rawGroup);
  image
      ->add_option("--detached-tails", im.detachedTails,
                   "Of the split pages, those whose tail is not before the next page")
      ->group(rawGroup);
  image
      ->add_option("--split-before-zero", im.splitBeforeZero,
                   "Of the split pages, those placed where the next page is all zero and free "
                   "(the next fragment a scan sees starts a page late)")
      ->group(rawGroup);
  image->add_option("--lost-fragments", im.lostFragments, "Pieces never written")->group(rawGroup);
  image
      ->add_option("--extent", im.extents,
                   "Place a piece yourself: FILESECTOR:COUNT@SECTOR (repeatable; replaces "
                   "the random cut)")
      ->group(rawGroup);
  image->add_flag("--in-order", im.inOrder, "Lay the pieces in file order")->group(rawGroup);
  image->add_option("--max-gap", im.maxGap, "Largest gap between pieces, in clusters")
      ->group(rawGroup)
      ->capture_default_str();
  image->add_option("--zero-share", im.zeroShare, "Share of gaps left zero rather than random")
      ->check(CLI::Range(0.0, 1.0))
      ->group(rawGroup)
      ->capture_default_str();
  image->add_flag("--older-copy", im.olderCopy, "Also write a whole older copy of the database")
      ->group(rawGroup);
  image->add_option("--stale-runs", im.staleRuns, "Runs of stale (older) copies of pages")
      ->group(rawGroup);
  image->add_option("--other-db-runs", im.otherRuns, "Runs of pages of another database")
      ->group(rawGroup);
  image
      ->add_option("--other-file-id-runs", im.otherFileIdRuns,
                   "Runs of pages of another file id (3)")
      ->group(rawGroup);
  image
      ->add_flag("--other-db-on-free-pages", im.otherOnFreePages,
                 "The other database's runs take page ids the target's PFS pages mark free")
      ->group(rawGroup);
  image
      ->add_flag("--older-after-header", im.olderAfterHeader,
                 "With --second-target older: the older copy's pieces right after the header "
                 "fragment")
      ->group(rawGroup);
  image->add_option("--max-run-pages", im.maxRunPages, "Longest decoy run")->group(rawGroup);
  image->add_option("--other-mdf", im.otherMdf, "The other database, from a real .mdf")
      ->check(CLI::ExistingFile)
      ->group(rawGroup);
  image
      ->add_option("--second-target", im.secondTarget,
                   "A second deleted database to recover: older (an older copy of the first: the "
                   "previous generation, or a real file's pages with lower LSNs) or other (another "
                   "database, generated or --second-mdf)")
      ->check(CLI::IsMember({"older", "other"}));
  image->add_option("--second-mdf", im.secondMdf, "With --second-target other: a real .mdf")
      ->check(CLI::ExistingFile);
  const std::string fsGroup = "FAT32, NTFS and disk images";
  image->add_option("--decoy-files", im.decoyFiles, "Live random files written first")
      ->group(fsGroup)
      ->capture_default_str();
  image->add_option("--decoy-min-clusters", im.decoyMin)->group(fsGroup)->capture_default_str();
  image->add_option("--decoy-max-clusters", im.decoyMax)->group(fsGroup)->capture_default_str();
  image->add_flag("--live-older-copy", im.liveOlderCopy, "Keep an older copy as a live file")
      ->group(fsGroup);
  image->add_flag("--live-other-db", im.liveOther, "Keep another database as a live file")
      ->group(fsGroup);
  image
      ->add_option("--overwrite-clusters", im.overwrite,
                   "FAT32: a new file reusing this many of the deleted database's clusters")
      ->group(fsGroup);
  image->add_option("--db-name", im.dbName, "FAT32: name the database had before deletion")
      ->group(fsGroup)
      ->capture_default_str();
  image->add_option("--fs", im.fs, "disk: the partition's file system, fat32 or ntfs")
      ->check(CLI::IsMember({"fat32", "ntfs"}))
      ->group(fsGroup)
      ->capture_default_str();
  image->add_option("--table", im.table, "disk: partition table, mbr or gpt")
      ->check(CLI::IsMember({"mbr", "gpt"}))
      ->group(fsGroup)
      ->capture_default_str();
  image
      ->add_option("--partition-before", im.partitionsBefore,
                   "disk: a partition before the database's, fat32 (with a live file) or empty, "
                   "optionally :SIZE (repeatable; MBR: at most 3)")
      ->group(fsGroup);
  image
      ->add_option("--partition-start", im.partitionStart,
                   "disk: first sector of the first partition (later ones are 1 MiB-aligned)")
      ->group(fsGroup)
      ->capture_default_str();
  image->add_option("--trailing", im.trailing, "disk: sectors after the partition")
      ->group(fsGroup)
      ->capture_default_str();

  SampleArgs sampleArgs;
  CLI::App* sample = app.add_subcommand(
      "sample",
      "Write the built-in sample: a disk with an MBR and one FAT32 partition (4-sector "
      "clusters) holding live files, a deleted, fragmented database with a page split across "
      "clusters, and an older copy of it, deleted as well; the manifest beside it");
  sample->add_option("output", sampleArgs.out, "The image to write")->required();
  sample
      ->add_option("--real-dir", sampleArgs.realDir,
                   "Folder with SQL Server's files: checksum-2014.mdf (or tornpage-2008r2.mdf, "
                   "checksum-2005.mdf) is used when there; otherwise a generated database")
      ->check(CLI::ExistingDirectory);
  sample->add_option("--seed", sampleArgs.seed, "Seed of the layout (and of a generated database)")
      ->capture_default_str();
  sample->add_option("--manifest", sampleArgs.manifest, "The manifest (default: <output>.json)");
  sample
      ->add_option("--write-originals", sampleArgs.originals,
                   "Also write both original files into this folder, under their manifest names")
      ->check(CLI::ExistingDirectory);

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? 0 : kExitBadInput;
  }
  if (db->parsed()) return WriteDatabase(dbArgs, dbOut, out, err);
  if (sample->parsed()) return WriteSample(sampleArgs, out, err);
  return WriteImage(im, imDb, out, err);
}

}  // namespace ravelin::gen
